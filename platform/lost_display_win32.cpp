#include "platform/lost_display.h"

// A Windows program's windows cannot lose their display: the session ending
// reaches the view as WM_ENDSESSION instead.
void OnLostDisplay(void (*)()) {}
