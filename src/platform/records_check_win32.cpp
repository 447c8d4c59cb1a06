// Compiled with the image, linked into nothing: every record, offset and
// number that Corvane writes out by hand instead of taking it from
// <windows.h> must match MinGW-w64's, or the build fails here.
#include <stddef.h>
#include <windows.h>

#include "frame/exception_records.h"
#include "frame/machine_layout.h"
#include "platform/platform_types.h"

// The same offset and the same size in both records.
#define SAME_FIELD(ours, theirs, field, theirField)                            \
  static_assert(offsetof(ours, field) == offsetof(theirs, theirField) &&       \
                    sizeof(static_cast<ours *>(nullptr)->field) ==             \
                        sizeof(static_cast<theirs *>(nullptr)->theirField),    \
                #ours "::" #field " is not where " #theirs " has it")
#define SAME_SIZE(ours, theirs) \
  static_assert(sizeof(ours) == sizeof(theirs), #ours " and " #theirs " differ in size")

SAME_SIZE(PlatformExceptionRecord, EXCEPTION_RECORD);
SAME_FIELD(PlatformExceptionRecord, EXCEPTION_RECORD, ExceptionCode, ExceptionCode);
SAME_FIELD(PlatformExceptionRecord, EXCEPTION_RECORD, ExceptionFlags, ExceptionFlags);
SAME_FIELD(PlatformExceptionRecord, EXCEPTION_RECORD, ExceptionRecord, ExceptionRecord);
SAME_FIELD(PlatformExceptionRecord, EXCEPTION_RECORD, ExceptionAddress, ExceptionAddress);
SAME_FIELD(PlatformExceptionRecord, EXCEPTION_RECORD, NumberParameters, NumberParameters);
SAME_FIELD(PlatformExceptionRecord, EXCEPTION_RECORD, ExceptionInformation,
           ExceptionInformation);

SAME_SIZE(PlatformContext, CONTEXT);
static_assert(kFloatSaveAreaSize == sizeof(FLOATING_SAVE_AREA), "");
static_assert(kExtendedRegistersSize == MAXIMUM_SUPPORTED_EXTENSION, "");
SAME_FIELD(PlatformContext, CONTEXT, ContextFlags, ContextFlags);
SAME_FIELD(PlatformContext, CONTEXT, Dr0, Dr0);
SAME_FIELD(PlatformContext, CONTEXT, Dr1, Dr1);
SAME_FIELD(PlatformContext, CONTEXT, Dr2, Dr2);
SAME_FIELD(PlatformContext, CONTEXT, Dr3, Dr3);
SAME_FIELD(PlatformContext, CONTEXT, Dr6, Dr6);
SAME_FIELD(PlatformContext, CONTEXT, Dr7, Dr7);
SAME_FIELD(PlatformContext, CONTEXT, FloatSave, FloatSave);
SAME_FIELD(PlatformContext, CONTEXT, SegGs, SegGs);
SAME_FIELD(PlatformContext, CONTEXT, SegFs, SegFs);
SAME_FIELD(PlatformContext, CONTEXT, SegEs, SegEs);
SAME_FIELD(PlatformContext, CONTEXT, SegDs, SegDs);
SAME_FIELD(PlatformContext, CONTEXT, Edi, Edi);
SAME_FIELD(PlatformContext, CONTEXT, Esi, Esi);
SAME_FIELD(PlatformContext, CONTEXT, Ebx, Ebx);
SAME_FIELD(PlatformContext, CONTEXT, Edx, Edx);
SAME_FIELD(PlatformContext, CONTEXT, Ecx, Ecx);
SAME_FIELD(PlatformContext, CONTEXT, Eax, Eax);
SAME_FIELD(PlatformContext, CONTEXT, Ebp, Ebp);
SAME_FIELD(PlatformContext, CONTEXT, Eip, Eip);
SAME_FIELD(PlatformContext, CONTEXT, SegCs, SegCs);
SAME_FIELD(PlatformContext, CONTEXT, EFlags, EFlags);
SAME_FIELD(PlatformContext, CONTEXT, Esp, Esp);
SAME_FIELD(PlatformContext, CONTEXT, SegSs, SegSs);
SAME_FIELD(PlatformContext, CONTEXT, ExtendedRegisters, ExtendedRegisters);

SAME_SIZE(PlatformExceptionPointers, EXCEPTION_POINTERS);
SAME_FIELD(PlatformExceptionPointers, EXCEPTION_POINTERS, ExceptionRecord, ExceptionRecord);
SAME_FIELD(PlatformExceptionPointers, EXCEPTION_POINTERS, ContextRecord, ContextRecord);
static_assert(kExceptionContinueExecution == EXCEPTION_CONTINUE_EXECUTION, "");
static_assert(kExceptionContinueSearch == EXCEPTION_CONTINUE_SEARCH, "");

SAME_SIZE(PlatformLuid, LUID);
SAME_FIELD(PlatformLuid, LUID, LowPart, LowPart);
SAME_FIELD(PlatformLuid, LUID, HighPart, HighPart);
SAME_SIZE(PlatformTokenPrivileges, TOKEN_PRIVILEGES);
SAME_FIELD(PlatformTokenPrivileges, TOKEN_PRIVILEGES, PrivilegeCount, PrivilegeCount);
SAME_FIELD(PlatformTokenPrivileges, TOKEN_PRIVILEGES, Luid, Privileges[0].Luid);
SAME_FIELD(PlatformTokenPrivileges, TOKEN_PRIVILEGES, Attributes, Privileges[0].Attributes);
static_assert(kGmemMoveable == GMEM_MOVEABLE, "");
static_assert(kFileTypeChar == FILE_TYPE_CHAR, "");

static_assert(TIB_EXCEPTION_LIST == offsetof(NT_TIB, ExceptionList), "");
static_assert(TIB_STACK_BASE == offsetof(NT_TIB, StackBase), "");
static_assert(TIB_STACK_LIMIT == offsetof(NT_TIB, StackLimit), "");
