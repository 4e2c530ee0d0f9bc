// ParseScenario on arbitrary text. It must never crash; a script it accepts
// must hold only values the simulated remote can play, and a script it
// refuses must name its file and a line that exists.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "sim/scenario.h"

namespace {

void CheckEvent(const SimEvent& event) {
    switch (event.kind) {
    case SimEventKind::Ir:
        FUZZ_CHECK(event.x >= 0 && event.x <= 1023);
        FUZZ_CHECK(event.y >= 0 && event.y <= 767);
        FUZZ_CHECK(event.size >= 0 && event.size <= 15);
        [[fallthrough]];
    case SimEventKind::IrOff:
        FUZZ_CHECK(event.point >= 0 && event.point <= 3);
        break;
    case SimEventKind::Buttons:
        FUZZ_CHECK(event.length == 2);
        break;
    case SimEventKind::Accel:  // z is kept in size
        FUZZ_CHECK(event.x >= 0 && event.x <= 255);
        FUZZ_CHECK(event.y >= 0 && event.y <= 255);
        FUZZ_CHECK(event.size >= 0 && event.size <= 255);
        break;
    case SimEventKind::Raw:
    case SimEventKind::Other:
        FUZZ_CHECK(event.length >= 1 && event.length <= sizeof event.bytes);
        break;
    case SimEventKind::Extension:
        FUZZ_CHECK(event.x == 0 || event.x == 1);
        break;
    case SimEventKind::Battery:
        FUZZ_CHECK(event.x >= 0 && event.x <= 255);
        break;
    case SimEventKind::Silent:
    case SimEventKind::Resume:
    case SimEventKind::Disconnect:
    case SimEventKind::Off:
    case SimEventKind::Away:
    case SimEventKind::Back:
        break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    Scenario scenario;
    std::string error;
    if (!ParseScenario(text, "f", &scenario, &error)) {
        // "f:LINE: what", LINE one of the text's lines.
        FUZZ_CHECK(error.starts_with("f:"));
        const std::size_t colon = error.find(':', 2);
        FUZZ_CHECK(colon != std::string::npos && colon > 2 && colon + 2 < error.size());
        const std::size_t line = std::stoul(error.substr(2, colon - 2));
        const std::size_t lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
        FUZZ_CHECK(line >= 1 && line <= lines);
        return 0;
    }
    FUZZ_CHECK(scenario.rate >= 1 && scenario.rate <= 1000);
    FUZZ_CHECK(!scenario.demoMotion);  // only the built-in demo moves on its own
    FUZZ_CHECK(scenario.adapterSlots >= 0 && scenario.adapterSlots <= 8);
    FUZZ_CHECK(scenario.remoteSlot >= 0 && scenario.remoteSlot <= std::max(scenario.adapterSlots, 1));
    for (std::size_t i = 0; i < scenario.events.size(); ++i) {
        CheckEvent(scenario.events[i]);
        if (i > 0) FUZZ_CHECK(scenario.events[i - 1].ms <= scenario.events[i].ms);
    }
    return 0;
}
