// The process frame's machine code. Inside a function it compiles, the
// compiler owns ESP and EBP; these routines cannot leave them to it. The
// entry point moves ESP down past the pages it sets aside for the error
// path and calls the main sequence with EBP cleared, so that the
// saved-frame chain ends at start-up. The resume routine is never called:
// a changed thread context enters it on the error path's stack, with no
// return address and with EBP still the fault's frame, which it hands on;
// it must put back the exception-registration chain head before anything
// else runs. The chain head and the stack bounds are read through FS.
//
// Symbols carry the i686 decoration: a leading underscore, and @N (bytes of
// arguments) for __stdcall.
#include "frame/machine_layout.h"

        .text

// extern "C" [[noreturn]] void __stdcall ProcessEntry();
        .globl  _ProcessEntry@0
_ProcessEntry@0:
        movb    $0, _ConsoleFlag
        movl    %fs:TIB_EXCEPTION_LIST, %eax
        movl    %eax, _StartupExceptionChain
        pushl   $_FaultFilter@4
        call    *__imp__SetUnhandledExceptionFilter@4
        movw    %ss, %ax
        movzwl  %ax, %eax
        movl    %eax, _StartupStackSegment
        fninit
        fldcw   _DefaultFpuControlWord
        // The pages are touched from the top down, as the guard page that
        // commits the stack requires.
        movl    %esp, _ErrorPathStackTop
        movl    $ERROR_PATH_STACK_PAGES, %ecx
1:      subl    $STACK_PAGE_BYTES, %esp
        orl     $0, (%esp)
        decl    %ecx
        jnz     1b
        xorl    %ebp, %ebp
        call    _MainSequence
        call    _EndProcess

// extern "C" [[noreturn]] void ResumeIntoErrorPath();
        .globl  _ResumeIntoErrorPath
_ResumeIntoErrorPath:
        // The fault may have come inside code that registered exception
        // records; their frames are abandoned now, so an exception during
        // the report must not be offered to them. The filter cannot do this:
        // the dispatcher sets the head again after the filter returns.
        movl    _StartupExceptionChain, %eax
        movl    %eax, %fs:TIB_EXCEPTION_LIST
        movzbl  _PendingFaultCount, %eax
        testl   %eax, %eax
        jz      1f
        decl    %eax
        movb    %al, _PendingFaultCount
1:      leal    _PendingFaults(,%eax,FAULT_RECORD_SIZE), %ecx
        cmpb    $0, FAULT_RECORD_RESET_FPU(%ecx)
        je      2f
        fninit
        fldcw   _DefaultFpuControlWord
2:      pushl   %ebp
        pushl   FAULT_RECORD_ADDRESS(%ecx)
        movzbl  FAULT_RECORD_ERROR_NUMBER(%ecx), %eax
        pushl   %eax
        call    _ReportRuntimeError

// extern "C" uint32_t ThreadStackBase();
        .globl  _ThreadStackBase
_ThreadStackBase:
        movl    %fs:TIB_STACK_BASE, %eax
        ret

// extern "C" uint32_t ThreadStackLimit();
        .globl  _ThreadStackLimit
_ThreadStackLimit:
        movl    %fs:TIB_STACK_LIMIT, %eax
        ret
