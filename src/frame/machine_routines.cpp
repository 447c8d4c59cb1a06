// The process frame's machine code. None of it can be C++: the entry point
// reads the stack-segment register, resets the x87 unit, sets stack aside
// below its own frame and calls the main sequence with EBP cleared so that
// the saved-frame chain ends there; the resume routine is never called but
// entered by a changed thread context, with EBP still the fault's frame,
// and must put back the exception-registration chain head before anything
// else runs; the chain head and the stack bounds are read through the FS
// segment.
//
// A file-scope asm block rather than a .S file, so that it builds with the
// same compiler and options as the rest of the image.

// Symbols carry the i686 decoration: a leading underscore, and @N (bytes of
// arguments) for __stdcall.

asm(R"(
        .set kFsExceptionChain, 0
        .set kFsStackBase, 4
        .set kFsStackLimit, 8
        .set kPageSize, 4096
        # Room for the report and its message box after a stack overflow.
        .set kErrorPathStackPages, 64
        .set kFaultRecordSize, 8
        .set kFaultRecordAddress, 0
        .set kFaultRecordErrorNumber, 4
        .set kFaultRecordResetFpu, 5

        .text

# extern "C" [[noreturn]] void __stdcall ProcessEntry();
        .globl  _ProcessEntry@0
_ProcessEntry@0:
        movb    $0, _ConsoleFlag
        movl    %fs:kFsExceptionChain, %eax
        movl    %eax, _StartupExceptionChain
        pushl   $_FaultFilter@4
        call    *__imp__SetUnhandledExceptionFilter@4
        movw    %ss, %ax
        movzwl  %ax, %eax
        movl    %eax, _StartupStackSegment
        fninit
        fldcw   _DefaultFpuControlWord
        # The pages are touched from the top down, as the guard page that
        # commits the stack requires.
        movl    %esp, _ErrorPathStackTop
        movl    $kErrorPathStackPages, %ecx
1:      subl    $kPageSize, %esp
        orl     $0, (%esp)
        decl    %ecx
        jnz     1b
        xorl    %ebp, %ebp
        call    _MainSequence
        call    _EndProcess

# extern "C" [[noreturn]] void ResumeIntoErrorPath();
        .globl  _ResumeIntoErrorPath
_ResumeIntoErrorPath:
        # The fault may have come inside code that registered exception
        # records; their frames are abandoned now, so an exception during
        # the report must not be offered to them. The filter cannot do this:
        # the dispatcher sets the head again after the filter returns.
        movl    _StartupExceptionChain, %eax
        movl    %eax, %fs:kFsExceptionChain
        movzbl  _PendingFaultCount, %eax
        testl   %eax, %eax
        jz      1f
        decl    %eax
        movb    %al, _PendingFaultCount
1:      leal    _PendingFaults(,%eax,kFaultRecordSize), %ecx
        cmpb    $0, kFaultRecordResetFpu(%ecx)
        je      2f
        fninit
        fldcw   _DefaultFpuControlWord
2:      pushl   %ebp
        pushl   kFaultRecordAddress(%ecx)
        movzbl  kFaultRecordErrorNumber(%ecx), %eax
        pushl   %eax
        call    _ReportRuntimeError

# extern "C" uint32_t ThreadStackBase();
        .globl  _ThreadStackBase
_ThreadStackBase:
        movl    %fs:kFsStackBase, %eax
        ret

# extern "C" uint32_t ThreadStackLimit();
        .globl  _ThreadStackLimit
_ThreadStackLimit:
        movl    %fs:kFsStackLimit, %eax
        ret
)");
