// Starting a thread fails when the process may have no more of them
// (ulimit -u, or no address space for another stack); the pumps then make
// do with the threads they have, down to none of their own.
#pragma once

#include <system_error>
#include <thread>
#include <utility>

template <typename Function, typename... Args>
bool try_start_thread(std::thread& thread, Function&& function, Args&&... args) {
    try {
        thread = std::thread(std::forward<Function>(function), std::forward<Args>(args)...);
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}
