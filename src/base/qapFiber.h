// A piece of work on a stack of its own that runs in turns with the code that resumes it, on
// the same thread: a parse that hands out its values a batch at a time suspends where it is and
// goes on from there at the next resume, at the cost of two stack switches, not of a parser
// that stops after every token.
#pragma once

#include <cstddef>

class QapFiber {
public:
    using Body = void (*)(void *arg);

    QapFiber() = default;
    // A fiber is released only once its body has returned, or before it ever ran.
    ~QapFiber() { release(); }
    QapFiber(const QapFiber &) = delete;
    QapFiber &operator=(const QapFiber &) = delete;

    // Makes body(arg) run at the next resume, on a stack from the thread's cache. False when no
    // stack can be had. The body must not let an exception out.
    bool start(Body body, void *arg);
    // Runs the body until it suspends or returns. Only from outside the body.
    void resume();
    // From inside the body: back to the code that resumed it, until the next resume.
    void suspend();
    // Started, and the body has not returned.
    bool running() const;
    // Gives the stack back to the thread's cache (the body must have returned or never run).
    void release();

    struct Block;

private:
    Block *block_ = nullptr;
};
