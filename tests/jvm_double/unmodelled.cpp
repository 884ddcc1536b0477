// Every JNI function the double does not model: a stub that names itself on stderr and in the trace and
// ends the process, so that a host relying on it fails loudly instead of reading garbage. The member
// names come from the build machine's jni.h (jni_names.inc, made by gen_jni_names.py).
#include "jvm_double.h"

#include <cstring>

// The stubs take no parameters: they never return, so the caller's arguments do not matter.
#define KR_NATIVE(name) \
    static void JNICALL Unmodelled_##name() { DoubleFailure("unmodelled JNI function %s called", #name); }
#define KR_INVOKE(name) \
    static void JNICALL UnmodelledVm_##name() { DoubleFailure("unmodelled invocation function %s called", #name); }
#include "jni_names.inc"
#undef KR_NATIVE
#undef KR_INVOKE

// Stores a stub into a table member of any function-pointer type.
template <class Member> static void SetStub(Member& member, void (JNICALL* stub)()) {
    static_assert(sizeof member == sizeof stub, "table members are plain function pointers");
    memcpy(&member, &stub, sizeof member);
}

void FillUnmodelledNative(JNINativeInterface_& table) {
    memset(&table, 0, sizeof table);
#define KR_NATIVE(name) SetStub(table.name, Unmodelled_##name);
#define KR_INVOKE(name)
#include "jni_names.inc"
#undef KR_NATIVE
#undef KR_INVOKE
}

void FillUnmodelledInvoke(JNIInvokeInterface_& table) {
    memset(&table, 0, sizeof table);
#define KR_NATIVE(name)
#define KR_INVOKE(name) SetStub(table.name, UnmodelledVm_##name);
#include "jni_names.inc"
#undef KR_NATIVE
#undef KR_INVOKE
}

void CheckTableComplete(const void* table, size_t size, size_t reserved, const char* tableName) {
    const char* base = static_cast<const char*>(table);
    for (size_t i = reserved; i < size / sizeof(void*); i++) {
        void* slot;
        memcpy(&slot, base + i * sizeof(void*), sizeof slot);
        if (!slot) DoubleFailure("%s slot %u is empty: jni.h and the generated names disagree", tableName,
                                 static_cast<unsigned>(i));
    }
}
