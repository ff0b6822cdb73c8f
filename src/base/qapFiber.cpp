// Fibers. On x86-64 and arm64 a switch saves the callee-saved registers on the stack it leaves,
// keeps that stack pointer, and loads those of the stack it enters: no system call, and nothing
// the sanitizers intercept. Elsewhere the POSIX contexts do the same, with a system call a switch.
// Each stack is one mapping: a guard region at its low end, the stack, and the fiber's record at
// its top. Stacks are reserved, not committed, so a fiber holds only the pages its body touched;
// a few go back to a per-thread cache for the next fiber, as a table opened once per row would
// otherwise map a stack per row. Every switch is announced to AddressSanitizer and
// ThreadSanitizer when they are built in.
#include "qapFiber.h"

#include <cstdint>
#include <new>
#include <sys/mman.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#define QAP_FIBER_ASAN 1
#endif
#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#define QAP_FIBER_TSAN 1
#endif
#if __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#else
#define VALGRIND_STACK_REGISTER(start, end) 0u
#define VALGRIND_STACK_DEREGISTER(id)
#endif
#if defined(__x86_64__) || defined(__aarch64__)
#define QAP_FIBER_SWITCH 1
#else
#include <ucontext.h>
#endif

struct QapFiber::Block {
#if defined(QAP_FIBER_SWITCH)
    void *fiberSp = nullptr; // where each side's registers were pushed when it left
    void *callerSp = nullptr;
#else
    ucontext_t fiber;
    ucontext_t caller;
#endif
    Body body = nullptr;
    void *arg = nullptr;
    bool running = false;
    unsigned valgrindId = 0;
    char *stackLow = nullptr;
    size_t stackSize = 0;
    // The resuming side's stack, as the address sanitizer needs it to switch back.
    const void *callerLow = nullptr;
    size_t callerSize = 0;
    void *tsanFiber = nullptr;
    void *tsanCaller = nullptr;
};

namespace {

using Block = QapFiber::Block;

// As much as a thread's own stack: the parser recurses over some DTD structures (within
// bounds). Only touched pages are ever backed.
constexpr size_t kMapping = size_t{8} << 20;
constexpr size_t kGuard = size_t{64} << 10;
constexpr int kCached = 4;

} // namespace

// The body's side of the fiber, from its first resume to its end.
extern "C" __attribute__((visibility("hidden"), noreturn)) void qapFiberEnter(Block *block);

#if defined(__x86_64__)
// qapFiberSwitch(save, load): pushes rbp, rbx, r12-r15 and the floating-point control words,
// stores the stack pointer in *save, then does the reverse from load. A new fiber's stack is
// laid out as if it had left from qapFiberStart, which hands rbx (the record) to qapFiberEnter.
extern "C" __attribute__((visibility("hidden"))) void qapFiberSwitch(void **save, void *load);
extern "C" __attribute__((visibility("hidden"))) void qapFiberStart();
asm(R"(
    .pushsection .text
    .globl qapFiberSwitch
    .hidden qapFiberSwitch
    .type qapFiberSwitch, @function
qapFiberSwitch:
    pushq %rbp
    pushq %rbx
    pushq %r12
    pushq %r13
    pushq %r14
    pushq %r15
    subq $8, %rsp
    stmxcsr (%rsp)
    fnstcw 4(%rsp)
    movq %rsp, (%rdi)
    movq %rsi, %rsp
    ldmxcsr (%rsp)
    fldcw 4(%rsp)
    addq $8, %rsp
    popq %r15
    popq %r14
    popq %r13
    popq %r12
    popq %rbx
    popq %rbp
    ret
    .size qapFiberSwitch, .-qapFiberSwitch

    .globl qapFiberStart
    .hidden qapFiberStart
    .type qapFiberStart, @function
qapFiberStart:
    .cfi_startproc
    .cfi_undefined rip
    movq %rbx, %rdi
    call qapFiberEnter
    ud2
    .cfi_endproc
    .size qapFiberStart, .-qapFiberStart
    .popsection
)");

namespace {

// Lays out a new stack as qapFiberSwitch leaves one: control words, r15-r12, rbx (the record),
// rbp, and qapFiberStart as the return address, which then finds the stack 16-byte aligned.
bool prepare(Block *block) {
    auto top = reinterpret_cast<uintptr_t>(block->stackLow + block->stackSize) & ~uintptr_t{15};
    auto *frame = reinterpret_cast<uint64_t *>(top) - 8;
    uint32_t mxcsr = 0;
    uint16_t fpucw = 0;
    asm volatile("stmxcsr %0" : "=m"(mxcsr));
    asm volatile("fnstcw %0" : "=m"(fpucw));
    frame[0] = uint64_t{mxcsr} | uint64_t{fpucw} << 32;
    frame[1] = frame[2] = frame[3] = frame[4] = 0;
    frame[5] = reinterpret_cast<uint64_t>(block);
    frame[6] = 0;
    frame[7] = reinterpret_cast<uint64_t>(&qapFiberStart);
    block->fiberSp = frame;
    return true;
}

} // namespace

#elif defined(__aarch64__)
// qapFiberSwitch(save, load): stores d8-d15, x19-x28, the frame pointer and the link register
// (the callee-saved set of the AAPCS64) below the stack pointer, stores the stack pointer in
// *save, then does the reverse from load and returns through the link register it loaded. The
// floating-point control register stays the thread's: nothing here changes it. A new fiber's
// stack is laid out as if it had left from qapFiberStart, which hands x19 (the record) to
// qapFiberEnter.
extern "C" __attribute__((visibility("hidden"))) void qapFiberSwitch(void **save, void *load);
extern "C" __attribute__((visibility("hidden"))) void qapFiberStart();
asm(R"(
    .pushsection .text
    .globl qapFiberSwitch
    .hidden qapFiberSwitch
    .type qapFiberSwitch, %function
    .p2align 2
qapFiberSwitch:
    sub sp, sp, #160
    stp d8, d9, [sp, #0]
    stp d10, d11, [sp, #16]
    stp d12, d13, [sp, #32]
    stp d14, d15, [sp, #48]
    stp x19, x20, [sp, #64]
    stp x21, x22, [sp, #80]
    stp x23, x24, [sp, #96]
    stp x25, x26, [sp, #112]
    stp x27, x28, [sp, #128]
    stp x29, x30, [sp, #144]
    mov x9, sp
    str x9, [x0]
    mov sp, x1
    ldp d8, d9, [sp, #0]
    ldp d10, d11, [sp, #16]
    ldp d12, d13, [sp, #32]
    ldp d14, d15, [sp, #48]
    ldp x19, x20, [sp, #64]
    ldp x21, x22, [sp, #80]
    ldp x23, x24, [sp, #96]
    ldp x25, x26, [sp, #112]
    ldp x27, x28, [sp, #128]
    ldp x29, x30, [sp, #144]
    add sp, sp, #160
    ret
    .size qapFiberSwitch, .-qapFiberSwitch

    .globl qapFiberStart
    .hidden qapFiberStart
    .type qapFiberStart, %function
    .p2align 2
qapFiberStart:
    .cfi_startproc
    .cfi_undefined x30
    mov x0, x19
    bl qapFiberEnter
    brk #0
    .cfi_endproc
    .size qapFiberStart, .-qapFiberStart
    .popsection
)");

namespace {

// Lays out a new stack as qapFiberSwitch leaves one: 20 slots, zero but x19 (the record) and the
// link register (qapFiberStart); the stack is 16-byte aligned where the body starts.
bool prepare(Block *block) {
    auto top = reinterpret_cast<uintptr_t>(block->stackLow + block->stackSize) & ~uintptr_t{15};
    auto *frame = reinterpret_cast<uint64_t *>(top) - 20;
    for (int i = 0; i < 20; ++i)
        frame[i] = 0;
    frame[8] = reinterpret_cast<uint64_t>(block);
    frame[19] = reinterpret_cast<uint64_t>(&qapFiberStart);
    block->fiberSp = frame;
    return true;
}

} // namespace

#else

namespace {

// makecontext passes int arguments: the record's address comes in two halves.
void enterHalves(unsigned high, unsigned low) {
    qapFiberEnter(reinterpret_cast<Block *>((uintptr_t{high} << 32) | uintptr_t{low}));
}

bool prepare(Block *block) {
    if (getcontext(&block->fiber) != 0) return false;
    block->fiber.uc_stack.ss_sp = block->stackLow;
    block->fiber.uc_stack.ss_size = block->stackSize;
    block->fiber.uc_link = nullptr;
    const auto address = reinterpret_cast<uintptr_t>(block);
    makecontext(&block->fiber, reinterpret_cast<void (*)()>(&enterHalves), 2,
                static_cast<unsigned>(address >> 32), static_cast<unsigned>(address));
    return true;
}

void toFiber(Block *block) {
    swapcontext(&block->caller, &block->fiber);
}
void toCaller(Block *block) {
    swapcontext(&block->fiber, &block->caller);
}

} // namespace

#endif

#if defined(QAP_FIBER_SWITCH)
namespace {
void toFiber(Block *block) {
    qapFiberSwitch(&block->callerSp, block->fiberSp);
}
void toCaller(Block *block) {
    qapFiberSwitch(&block->fiberSp, block->callerSp);
}
} // namespace
#endif

namespace {

Block *mapBlock() {
    void *raw = mmap(nullptr, kMapping, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    char *base = static_cast<char *>(raw);
    if (mprotect(base, kGuard, PROT_NONE) != 0) {
        munmap(raw, kMapping);
        return nullptr;
    }
    const uintptr_t top = reinterpret_cast<uintptr_t>(base + kMapping) - sizeof(Block);
    auto *block = new (reinterpret_cast<void *>(top & ~uintptr_t{63})) Block;
    block->stackLow = base + kGuard;
    block->stackSize = static_cast<size_t>(reinterpret_cast<char *>(block) - block->stackLow);
    block->valgrindId =
        VALGRIND_STACK_REGISTER(block->stackLow, block->stackLow + block->stackSize);
    return block;
}

void unmapBlock(Block *block) {
    VALGRIND_STACK_DEREGISTER(block->valgrindId);
    char *base = block->stackLow - kGuard;
    block->~Block();
    munmap(base, kMapping);
}

// The stacks of this thread's ended fibers, unmapped when the thread ends (a fiber released
// after that, by another thread-local object going, unmaps its own).
struct StackCache {
    Block *blocks[kCached] = {};
    int count = 0;
    bool open = true;
    ~StackCache() {
        open = false;
        while (count > 0)
            unmapBlock(blocks[--count]);
    }
};
thread_local StackCache cache;

// From the body back to the side that resumed it, announced to the sanitizers; the stack of a
// body that ended keeps no fake frames.
void leave(Block *block, bool ended) {
#ifdef QAP_FIBER_ASAN
    void *fake = nullptr;
    __sanitizer_start_switch_fiber(ended ? nullptr : &fake, block->callerLow, block->callerSize);
#else
    (void)ended;
#endif
#ifdef QAP_FIBER_TSAN
    __tsan_switch_to_fiber(block->tsanCaller, 0);
#endif
    toCaller(block);
#ifdef QAP_FIBER_ASAN
    __sanitizer_finish_switch_fiber(fake, &block->callerLow, &block->callerSize);
#endif
}

} // namespace

void qapFiberEnter(Block *block) {
#ifdef QAP_FIBER_ASAN
    __sanitizer_finish_switch_fiber(nullptr, &block->callerLow, &block->callerSize);
#endif
    block->body(block->arg);
    block->running = false;
    leave(block, true);
    __builtin_unreachable(); // an ended fiber is never resumed
}

bool QapFiber::start(Body body, void *arg) {
    release();
    Block *block = cache.count > 0 ? cache.blocks[--cache.count] : mapBlock();
    if (block == nullptr) return false;
    block_ = block;
    if (!prepare(block)) {
        release();
        return false;
    }
    block->body = body;
    block->arg = arg;
    block->running = true;
#ifdef QAP_FIBER_TSAN
    block->tsanFiber = __tsan_create_fiber(0);
#endif
    return true;
}

void QapFiber::resume() {
    Block *block = block_;
    if (block == nullptr || !block->running) return;
#ifdef QAP_FIBER_ASAN
    void *fake = nullptr;
    __sanitizer_start_switch_fiber(&fake, block->stackLow, block->stackSize);
#endif
#ifdef QAP_FIBER_TSAN
    block->tsanCaller = __tsan_get_current_fiber();
    __tsan_switch_to_fiber(block->tsanFiber, 0);
#endif
    toFiber(block);
#ifdef QAP_FIBER_ASAN
    __sanitizer_finish_switch_fiber(fake, nullptr, nullptr);
#endif
}

void QapFiber::suspend() {
    leave(block_, false);
}

bool QapFiber::running() const {
    return block_ != nullptr && block_->running;
}

void QapFiber::release() {
    Block *block = block_;
    if (block == nullptr) return;
    block_ = nullptr;
#ifdef QAP_FIBER_TSAN
    if (block->tsanFiber != nullptr) __tsan_destroy_fiber(block->tsanFiber);
    block->tsanFiber = nullptr;
#endif
    block->running = false;
    if (cache.open && cache.count < kCached)
        cache.blocks[cache.count++] = block;
    else
        unmapBlock(block);
}
