// The modelled JNI functions. Each one checks that its JNIEnv belongs to the calling thread, records
// itself in the trace, and behaves as HotSpot does for the cases the double models.
#include "jvm_double.h"

#include <cstring>

static JavaObject* Obj(jobject o) { return reinterpret_cast<JavaObject*>(o); }
template <class T = jobject> static T Ref(JavaObject* o) { return reinterpret_cast<T>(o); }
static MethodInfo* Method(jmethodID m) { return reinterpret_cast<MethodInfo*>(m); }

JavaThread& CheckEnv(JNIEnv* env, const char* function) {
    JavaThread* t = reinterpret_cast<JavaThread::Env*>(env)->owner;
    if (t->osId != GetCurrentThreadId()) FatalJava("Using JNIEnv in the wrong thread");
    if (t->pending && strcmp(function, "ExceptionCheck") && strcmp(function, "ExceptionOccurred") &&
        strcmp(function, "ExceptionDescribe") && strcmp(function, "ExceptionClear") &&
        strcmp(function, "DeleteLocalRef"))
        TraceLine("jni-warning %s called with an exception pending", function);
    return *t;
}

static ClassInfo* ClassArg(jclass c, const char* function) {
    JavaObject* o = Obj(c);
    if (!o || o->kind != ObjKind::Class)
        FatalJava((std::string(function) + ": the class argument is not a class").c_str());
    return o->classInfo;
}

static MethodInfo& MethodArg(jmethodID id, bool isStatic, const char* function) {
    MethodInfo* m = Method(id);
    if (!m) FatalJava((std::string(function) + ": null method ID").c_str());
    if (m->isStatic != isStatic)
        FatalJava((std::string(function) + (isStatic ? ": instance method ID passed as static"
                                                     : ": static method ID passed as instance")).c_str());
    return *m;
}

static std::string MethodName(const MethodInfo& m) { return m.owner->name + "." + m.name + m.signature; }

/* arguments of Call and NewObject functions, read by the method's signature */

static std::vector<char> ParameterTypes(const std::string& sig) {
    std::vector<char> types;
    for (size_t i = 1; i < sig.size() && sig[i] != ')'; i++) {
        char type = sig[i];
        while (sig[i] == '[') i++;
        if (sig[i] == 'L') i = sig.find(';', i);
        types.push_back(type == '[' ? 'L' : type);
    }
    return types;
}

static std::vector<jvalue> ArgsFromV(const MethodInfo& m, va_list args) {
    std::vector<jvalue> values;
    for (char type : ParameterTypes(m.signature)) {
        jvalue v;
        v.j = 0;
        if (type == 'J') v.j = va_arg(args, jlong);
        else if (type == 'F') v.f = static_cast<jfloat>(va_arg(args, double));
        else if (type == 'D') v.d = va_arg(args, double);
        else if (type == 'L') v.l = va_arg(args, jobject);
        else v.i = va_arg(args, int);  // boolean, byte, char, short and int arrive promoted to int
        if (type == 'Z') v.z = v.i ? JNI_TRUE : JNI_FALSE;
        values.push_back(v);
    }
    return values;
}

static std::vector<jvalue> ArgsFromA(const MethodInfo& m, const jvalue* args) {
    return std::vector<jvalue>(args, args + ParameterTypes(m.signature).size());
}

/* classes and methods */

static jint JNICALL GetVersion(JNIEnv* env) {
    CheckEnv(env, "GetVersion");
    TraceLine("jni GetVersion");
    return 0x000a0000;
}

static jclass JNICALL FindClass(JNIEnv* env, const char* name) {
    JavaThread& t = CheckEnv(env, "FindClass");
    TraceLine("jni FindClass %s", name ? name : "(null)");
    ClassInfo* c = FindJavaClass(t, name ? name : "");
    return c ? Ref<jclass>(c->mirror) : nullptr;
}

static jmethodID LookUpMethod(JNIEnv* env, jclass cls, const char* name, const char* sig, bool isStatic,
                              const char* function) {
    JavaThread& t = CheckEnv(env, function);
    ClassInfo* c = ClassArg(cls, function);
    TraceLine("jni %s %s.%s%s", function, c->name.c_str(), name, sig);
    return reinterpret_cast<jmethodID>(FindJavaMethod(t, c, name, sig, isStatic));
}

static jmethodID JNICALL GetMethodID(JNIEnv* env, jclass cls, const char* name, const char* sig) {
    return LookUpMethod(env, cls, name, sig, false, "GetMethodID");
}

static jmethodID JNICALL GetStaticMethodID(JNIEnv* env, jclass cls, const char* name, const char* sig) {
    return LookUpMethod(env, cls, name, sig, true, "GetStaticMethodID");
}

static jclass JNICALL GetObjectClass(JNIEnv* env, jobject o) {
    JavaThread& t = CheckEnv(env, "GetObjectClass");
    TraceLine("jni GetObjectClass");
    ClassInfo* c = Obj(o) ? FindJavaClass(t, Obj(o)->className) : nullptr;
    return c ? Ref<jclass>(c->mirror) : nullptr;
}

static jboolean JNICALL IsInstanceOfFn(JNIEnv* env, jobject o, jclass cls) {
    CheckEnv(env, "IsInstanceOf");
    TraceLine("jni IsInstanceOf");
    return !o || IsInstanceOf(Obj(o), ClassArg(cls, "IsInstanceOf")->name) ? JNI_TRUE : JNI_FALSE;
}

/* calls */

static jvalue Call(JNIEnv* env, jmethodID id, bool isStatic, JavaObject* self, const std::vector<jvalue>* a,
                   va_list v, const char* function) {
    JavaThread& t = CheckEnv(env, function);
    MethodInfo& m = MethodArg(id, isStatic, function);
    TraceLine("jni %s %s", function, MethodName(m).c_str());
    return InvokeJava(t, m, self, a ? *a : ArgsFromV(m, v));
}

// Defines F, FV and FA for a static or instance call of the given result (R: the jvalue member).
#define KR_CALLS(F, Type, R, isStatic, Target)                                                          \
    static Type JNICALL F##V(JNIEnv* env, Target x, jmethodID id, va_list args) {                       \
        jvalue r = Call(env, id, isStatic, isStatic ? nullptr : Obj(x), nullptr, args, #F "V");           \
        return (Type)R;                                                                                   \
    }                                                                                                     \
    static Type JNICALL F(JNIEnv* env, Target x, jmethodID id, ...) {                                   \
        va_list args;                                                                                     \
        va_start(args, id);                                                                               \
        jvalue r = Call(env, id, isStatic, isStatic ? nullptr : Obj(x), nullptr, args, #F);              \
        va_end(args);                                                                                     \
        return (Type)R;                                                                                   \
    }                                                                                                     \
    static Type JNICALL F##A(JNIEnv* env, Target x, jmethodID id, const jvalue* a) {                    \
        std::vector<jvalue> values = ArgsFromA(MethodArg(id, isStatic, #F "A"), a);                      \
        va_list none{};                                                                                   \
        jvalue r = Call(env, id, isStatic, isStatic ? nullptr : Obj(x), &values, none, #F "A");          \
        return (Type)R;                                                                                   \
    }

KR_CALLS(CallStaticVoidMethod, void, (void)r, true, jclass)
KR_CALLS(CallStaticObjectMethod, jobject, r.l, true, jclass)
KR_CALLS(CallVoidMethod, void, (void)r, false, jobject)
KR_CALLS(CallObjectMethod, jobject, r.l, false, jobject)

static jobject Construct(JNIEnv* env, jclass cls, jmethodID id, const std::vector<jvalue>* a, va_list v,
                         const char* function) {
    JavaThread& t = CheckEnv(env, function);
    ClassInfo* c = ClassArg(cls, function);
    MethodInfo& m = MethodArg(id, false, function);
    if (m.name != "<init>" || m.owner != c) FatalJava((std::string(function) + ": not a constructor of the class").c_str());
    TraceLine("jni %s %s", function, MethodName(m).c_str());
    return InvokeJava(t, m, nullptr, a ? *a : ArgsFromV(m, v)).l;
}

static jobject JNICALL NewObjectV(JNIEnv* env, jclass cls, jmethodID id, va_list args) {
    return Construct(env, cls, id, nullptr, args, "NewObjectV");
}

static jobject JNICALL NewObject(JNIEnv* env, jclass cls, jmethodID id, ...) {
    va_list args;
    va_start(args, id);
    jobject o = Construct(env, cls, id, nullptr, args, "NewObject");
    va_end(args);
    return o;
}

static jobject JNICALL NewObjectA(JNIEnv* env, jclass cls, jmethodID id, const jvalue* a) {
    std::vector<jvalue> values = ArgsFromA(MethodArg(id, false, "NewObjectA"), a);
    va_list none{};
    return Construct(env, cls, id, &values, none, "NewObjectA");
}

void FillCallFunctions(JNINativeInterface_& t) {
    t.CallStaticVoidMethod = CallStaticVoidMethod;
    t.CallStaticVoidMethodV = CallStaticVoidMethodV;
    t.CallStaticVoidMethodA = CallStaticVoidMethodA;
    t.CallStaticObjectMethod = CallStaticObjectMethod;
    t.CallStaticObjectMethodV = CallStaticObjectMethodV;
    t.CallStaticObjectMethodA = CallStaticObjectMethodA;
    t.CallVoidMethod = CallVoidMethod;
    t.CallVoidMethodV = CallVoidMethodV;
    t.CallVoidMethodA = CallVoidMethodA;
    t.CallObjectMethod = CallObjectMethod;
    t.CallObjectMethodV = CallObjectMethodV;
    t.CallObjectMethodA = CallObjectMethodA;
    t.NewObject = NewObject;
    t.NewObjectV = NewObjectV;
    t.NewObjectA = NewObjectA;
}

void FillClassFunctions(JNINativeInterface_& t) {
    t.GetVersion = GetVersion;
    t.FindClass = FindClass;
    t.GetMethodID = GetMethodID;
    t.GetStaticMethodID = GetStaticMethodID;
    t.GetObjectClass = GetObjectClass;
    t.IsInstanceOf = IsInstanceOfFn;
}
