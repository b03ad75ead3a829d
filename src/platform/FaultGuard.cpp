#include "platform/FaultGuard.h"

#include <sys/mman.h>

#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <exception>
#include <mutex>

namespace trelvo::platform {

namespace {

constexpr int kGuardedSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
constexpr std::size_t kAltStackSize = 64 * 1024;

struct GuardFrame {
    sigjmp_buf environment;
    GuardFrame* outer = nullptr;
    volatile sig_atomic_t signalNumber = 0;
    const void* volatile address = nullptr;
};

// Read by the signal handler: keep the model that needs no allocation on first access.
thread_local GuardFrame* tInnermostFrame __attribute__((tls_model("initial-exec"))) = nullptr;

struct sigaction gPreviousActions[4];
std::once_flag gInstallOnce;

int slotOf(int signalNumber) {
    for (int i = 0; i < 4; ++i)
        if (kGuardedSignals[i] == signalNumber) return i;
    return -1;
}

void onFault(int signalNumber, siginfo_t* info, void* userContext) {
    if (GuardFrame* frame = tInnermostFrame) {
        frame->signalNumber = signalNumber;
        frame->address = info != nullptr ? info->si_addr : nullptr;
        // SA_NODEFER kept the signal unblocked, so the jump needs no mask restore.
        siglongjmp(frame->environment, 1);
    }
    // Not inside a guarded call: behave as if we were never installed.
    const int slot = slotOf(signalNumber);
    const struct sigaction& previous = gPreviousActions[slot];
    if ((previous.sa_flags & SA_SIGINFO) != 0 && previous.sa_sigaction != nullptr) {
        previous.sa_sigaction(signalNumber, info, userContext);
        return;
    }
    if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN && previous.sa_handler != nullptr) {
        previous.sa_handler(signalNumber);
        return;
    }
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

// One alternate stack per thread, released when the thread ends.
struct AltStack {
    void* memory = nullptr;

    void prepare() noexcept {
        if (memory != nullptr) return;
        void* block = mmap(nullptr, kAltStackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (block == MAP_FAILED) return;
        stack_t stack{};
        stack.ss_sp = block;
        stack.ss_size = kAltStackSize;
        if (sigaltstack(&stack, nullptr) != 0) {
            munmap(block, kAltStackSize);
            return;
        }
        memory = block;
    }

    ~AltStack() {
        if (memory == nullptr) return;
        stack_t disable{};
        disable.ss_flags = SS_DISABLE;
        sigaltstack(&disable, nullptr);
        munmap(memory, kAltStackSize);
    }
};

thread_local AltStack tAltStack;

const char* signalName(int signalNumber) {
    switch (signalNumber) {
    case SIGSEGV: return "SIGSEGV (invalid memory access)";
    case SIGBUS: return "SIGBUS (bus error)";
    case SIGFPE: return "SIGFPE (arithmetic fault)";
    case SIGILL: return "SIGILL (illegal instruction)";
    default: return "signal";
    }
}

void copyText(char (&target)[160], const char* text) {
    std::snprintf(target, sizeof target, "%s", text != nullptr ? text : "");
}

} // namespace

void installFaultHandlers() noexcept {
    std::call_once(gInstallOnce, [] {
        for (int i = 0; i < 4; ++i) {
            struct sigaction action {};
            action.sa_sigaction = onFault;
            sigemptyset(&action.sa_mask);
            action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
            sigaction(kGuardedSignals[i], &action, &gPreviousActions[i]);
        }
    });
}

void prepareThreadForFaultGuard() noexcept {
    installFaultHandlers();
    tAltStack.prepare();
}

bool runGuarded(void (*fn)(void*), void* context, FaultReport& report) noexcept {
    if (tAltStack.memory == nullptr) prepareThreadForFaultGuard();
    report = FaultReport{};

    GuardFrame frame;
    frame.outer = tInnermostFrame;
    if (sigsetjmp(frame.environment, 0) != 0) {
        tInnermostFrame = frame.outer;
        report.kind = FaultKind::Signal;
        report.signalNumber = frame.signalNumber;
        report.address = frame.address;
        copyText(report.what, signalName(frame.signalNumber));
        return false;
    }
    tInnermostFrame = &frame;
    try {
        fn(context);
    } catch (const std::exception& error) {
        tInnermostFrame = frame.outer;
        report.kind = FaultKind::Exception;
        copyText(report.what, error.what());
        return false;
    } catch (...) {
        tInnermostFrame = frame.outer;
        report.kind = FaultKind::Exception;
        copyText(report.what, "unknown exception");
        return false;
    }
    tInnermostFrame = frame.outer;
    return true;
}

} // namespace trelvo::platform
