// The JNI tables: the functions the launcher uses behave as HotSpot does; every other member is a stub that
// names itself and ends the process (the names come from jni.h through gen_jni_names.py).
#include "jvm_double.h"

#include <cstring>

static JavaObject* Obj(jobject o) { return reinterpret_cast<JavaObject*>(o); }

static JavaThread& Check(JNIEnv* env) {
    JavaThread* t = reinterpret_cast<JavaThread::Env*>(env)->owner;
    if (t->osId != GetCurrentThreadId()) FatalJava("Using JNIEnv in the wrong thread");
    return *t;
}

static ClassInfo& ClassArg(jclass c) {
    if (!c || !Obj(c)->classInfo) FatalJava("JNI received a class argument that is not a class");
    return *Obj(c)->classInfo;
}

static jclass JNICALL FindClass(JNIEnv* env, const char* name) {
    ClassInfo* c = FindJavaClass(Check(env), name ? name : "");
    return c ? reinterpret_cast<jclass>(&c->mirror) : nullptr;
}

template <bool isStatic>
static jmethodID JNICALL GetMethod(JNIEnv* env, jclass cls, const char* name, const char* sig) {
    JavaThread& t = Check(env);
    ClassInfo& c = ClassArg(cls);
    for (MethodInfo& m : c.methods)
        if (m.name == name && m.signature == sig && m.isStatic == isStatic) return reinterpret_cast<jmethodID>(&m);
    // The library classes have no main, as in the real class library; any other method of theirs that is
    // not modelled may exist in reality, so asking for it ends the process loudly.
    if (!c.script && strcmp(name, "main")) DoubleFailure("unmodelled method " + c.name + "." + name + sig);
    ThrowJava(t, "java/lang/NoSuchMethodError", name);
    return nullptr;
}

// The V forms: jni.h's C++ members (CallStaticVoidMethod, NewObject...) pass their arguments on to them.
template <class Result, bool constructor>
static Result JNICALL Call(JNIEnv* env, jclass cls, jmethodID id, va_list args) {
    JavaThread& t = Check(env);
    ClassInfo& c = ClassArg(cls);
    MethodInfo* m = reinterpret_cast<MethodInfo*>(id);
    if (!m || m->isStatic == constructor || (constructor && m->owner != &c))
        FatalJava(constructor ? "the method is not a constructor of the class" : "the method is not static");
    return Result(m->fn(t, *m, args));  // a JavaObject* as a jobject, or discarded
}

static jstring JNICALL NewString(JNIEnv* env, const jchar* chars, jsize length) {
    Check(env);
    std::wstring text(reinterpret_cast<const wchar_t*>(chars), length);
    return reinterpret_cast<jstring>(new JavaObject("java/lang/String", text));
}

// The launcher never gives a negative size, an index out of range or an element of another class.
static jobjectArray JNICALL NewObjectArray(JNIEnv* env, jsize length, jclass cls, jobject init) {
    Check(env);
    if (length < 0) DoubleFailure("unmodelled NegativeArraySizeException");
    JavaObject* a = new JavaObject(ClassArg(cls).name);
    a->items.assign(length, Obj(init));
    return reinterpret_cast<jobjectArray>(a);
}

static void JNICALL SetObjectArrayElement(JNIEnv* env, jobjectArray array, jsize index, jobject value) {
    Check(env);
    std::vector<JavaObject*>& items = Obj(array)->items;
    if (index < 0 || static_cast<size_t>(index) >= items.size())
        DoubleFailure("unmodelled ArrayIndexOutOfBoundsException");
    if (value && Obj(value)->className != Obj(array)->className) DoubleFailure("unmodelled ArrayStoreException");
    items[index] = Obj(value);
}

static jboolean JNICALL ExceptionCheck(JNIEnv* env) { return Check(env).pending != nullptr; }

// HotSpot prints "Exception in thread "name" " through its own output (the vfprintf hook, or stderr),
// then the throwable's printStackTrace on Java's System.err; the exception is cleared.
static void JNICALL ExceptionDescribe(JNIEnv* env) {
    JavaThread& t = Check(env);
    JavaObject* e = t.pending;
    if (!e) return;
    t.pending = nullptr;
    VmPrint(stderr, "Exception ");
    VmPrint(stderr, "in thread \"%s\" ", t.name.c_str());
    PrintStackTrace(e, "");
}

static void JNICALL ExceptionClear(JNIEnv* env) { Check(env).pending = nullptr; }

static void JNICALL FatalError(JNIEnv* env, const char* message) {
    Check(env);
    FatalJava(message ? message : "");
}

// The stubs take no parameters: they never return, so the caller's arguments do not matter.
#define KR_NATIVE(name) \
    static void JNICALL Unmodelled_##name() { DoubleFailure("unmodelled JNI function " #name " called"); }
#define KR_INVOKE KR_NATIVE
#include "jni_names.inc"
#undef KR_NATIVE
#undef KR_INVOKE

template <class Member> static void SetStub(Member& member, void(JNICALL* stub)()) {
    static_assert(sizeof member == sizeof stub, "table members are plain function pointers");
    memcpy(&member, &stub, sizeof member);
}

const JNINativeInterface_* FillTables(JNIInvokeInterface_& invoke) {
    static JNINativeInterface_ t;
#define KR_NATIVE(name) SetStub(t.name, Unmodelled_##name);
#define KR_INVOKE(name) SetStub(invoke.name, Unmodelled_##name);
#include "jni_names.inc"
#undef KR_NATIVE
#undef KR_INVOKE
    t.FindClass = FindClass;
    t.GetMethodID = GetMethod<false>;
    t.GetStaticMethodID = GetMethod<true>;
    t.CallStaticVoidMethodV = Call<void, false>;
    t.CallStaticObjectMethodV = Call<jobject, false>;
    t.NewObjectV = Call<jobject, true>;
    t.NewString = NewString;
    t.NewObjectArray = NewObjectArray;
    t.SetObjectArrayElement = SetObjectArrayElement;
    t.ExceptionCheck = ExceptionCheck;
    t.ExceptionDescribe = ExceptionDescribe;
    t.ExceptionClear = ExceptionClear;
    t.FatalError = FatalError;
    return &t;
}
