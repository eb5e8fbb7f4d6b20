#pragma once

#include <thread>

namespace tavren::app::win32 {

// A program of the GUI subsystem gets no console of its own. Started from
// one, it attaches to it for as long as this object lives: standard output
// and error that are not redirected reach that console (as UTF-16, so that
// every character shows whatever the console's code page), and Ctrl+C
// there reaches the program. Redirected output is left alone and stays
// UTF-8. Started from the desktop, there is no console and nothing changes.
class ParentConsoleOutput {
public:
    ParentConsoleOutput();
    ~ParentConsoleOutput();  // flushes everything written so far to the console
    ParentConsoleOutput(const ParentConsoleOutput&) = delete;
    ParentConsoleOutput& operator=(const ParentConsoleOutput&) = delete;

private:
    void Relay();

    void* console_ = nullptr;  // the console's screen buffer
    void* pipe_ = nullptr;     // read end of the pipe that stands for stdout/stderr
    bool out_ = false;
    bool err_ = false;
    std::thread relay_;
};

}  // namespace tavren::app::win32
