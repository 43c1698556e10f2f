// The driver-call thunk of 32-bit Windows. A __stdcall function removes its
// arguments from the stack on return, a __cdecl function leaves that to its
// caller; compiled code that assumes the wrong one leaves the stack pointer
// off by the argument size. The thunk keeps a frame pointer, copies the
// arguments onto a fresh 16-byte aligned area, calls, measures how far the
// stack pointer moved and then restores it from the frame pointer, so the
// callee's convention no longer matters.
#include <atomic>

#include "driver/DriverCall.h"

// uint32_t thunk(const void* function, const uint32_t* args, uint32_t count,
//                uint32_t* removedBytes), __cdecl.
// esi and edi are saved by the callee in both conventions, so esi can hold the
// stack pointer of the call across it.
extern "C" __attribute__((cdecl)) uint32_t TraxDriverThunk(const void* function, const uint32_t* args, uint32_t count,
                                                           uint32_t* removedBytes) __asm__("trax_driver_thunk");

__asm__(
    "    .text\n"
    "    .def trax_driver_thunk; .scl 3; .type 32; .endef\n"
    "    .p2align 4\n"
    "trax_driver_thunk:\n"
    "    .cfi_startproc\n"
    "    pushl %ebp\n"
    "    .cfi_def_cfa_offset 8\n"
    "    .cfi_offset %ebp, -8\n"
    "    movl %esp, %ebp\n"
    "    .cfi_def_cfa_register %ebp\n"
    "    pushl %esi\n"
    "    pushl %edi\n"
    "    .cfi_offset %esi, -12\n"
    "    .cfi_offset %edi, -16\n"
    "    movl 16(%ebp), %ecx\n"    // count
    "    leal 0(,%ecx,4), %eax\n"  // argument bytes
    "    subl %eax, %esp\n"
    "    andl $-16, %esp\n"
    "    movl 12(%ebp), %esi\n"  // args
    "    movl %esp, %edi\n"
    "    cld\n"
    "    rep movsl\n"
    "    movl %esp, %esi\n"  // stack pointer at the call
    "    call *8(%ebp)\n"    // result in eax
    "    movl %esp, %ecx\n"
    "    subl %esi, %ecx\n"  // bytes the callee removed
    "    movl 20(%ebp), %edx\n"
    "    movl %ecx, (%edx)\n"
    "    leal -8(%ebp), %esp\n"  // back to the saved registers
    "    popl %edi\n"
    "    popl %esi\n"
    "    popl %ebp\n"
    "    .cfi_def_cfa %esp, 4\n"
    "    ret\n"
    "    .cfi_endproc\n");

namespace trax::driver {

namespace {
// Written by whichever thread calls the driver (the loading thread at start-up,
// the I/O thread afterwards); read by anyone.
std::atomic<int> g_observed{static_cast<int>(Convention::Unknown)};
}  // namespace

uint32_t CallEitherConvention(const void* function, const uint32_t* args, uint32_t count, Convention* seen) {
    uint32_t removed = 0;
    const uint32_t result = TraxDriverThunk(function, args, count, &removed);
    Convention convention = Convention::Unknown;
    if (count > 0 && removed == 0) {
        convention = Convention::Cdecl;
    } else if (count > 0 && removed == count * 4) {
        convention = Convention::Stdcall;
    }
    // A call without arguments cannot tell; it leaves the record as it was.
    if (count > 0) g_observed.store(static_cast<int>(convention), std::memory_order_relaxed);
    if (seen != nullptr) *seen = convention;
    return result;
}

const char* ObservedConvention() {
    switch (static_cast<Convention>(g_observed.load(std::memory_order_relaxed))) {
    case Convention::Cdecl:
        return "cdecl";
    case Convention::Stdcall:
        return "stdcall";
    case Convention::Unknown:
        break;
    }
    return "unknown";
}

}  // namespace trax::driver
