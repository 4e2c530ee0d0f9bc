// Storage for a process-wide object that is never destroyed. The program ends
// while a reader thread may still wait on such an object (a condition
// variable, say); a running destructor at exit would pull it from under it.
#pragma once

#include <utility>

template <class T>
union Immortal {
    T value;
    template <class... Args>
    explicit Immortal(Args&&... args) : value(std::forward<Args>(args)...) {}
    ~Immortal() {}
};
