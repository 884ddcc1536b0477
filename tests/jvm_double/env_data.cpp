// The modelled JNI functions for strings, arrays, exceptions and references, and the assembled table.
#include "jvm_double.h"

#include <cstring>

static JavaObject* Obj(jobject o) { return reinterpret_cast<JavaObject*>(o); }
template <class T = jobject> static T Ref(JavaObject* o) { return reinterpret_cast<T>(o); }




/* strings */

static jstring JNICALL NewStringUTF(JNIEnv* env, const char* bytes) {
    CheckEnv(env, "NewStringUTF");
    if (!bytes) {
        TraceLine("jni NewStringUTF (null)");
        return nullptr;
    }
    if (!IsModifiedUtf8(bytes)) {
        std::string hex;
        for (const char* p = bytes; *p && hex.size() < 96; p++) {
            char byte[4];
            snprintf(byte, sizeof byte, "%02X", static_cast<unsigned char>(*p));  // two digits always fit
            hex += hex.empty() ? byte : std::string(" ") + byte;
        }
        TraceLine("jni NewStringUTF invalid: %s", hex.c_str());
        FatalJava(("NewStringUTF: input is not valid modified UTF-8: " + hex).c_str());
    }
    JavaObject* s = NewJavaString(DecodeModifiedUtf8(bytes));
    TraceLine("jni NewStringUTF %s", EncodeUtf8(s->text).c_str());
    return Ref<jstring>(s);
}

static jstring JNICALL NewString(JNIEnv* env, const jchar* chars, jsize length) {
    CheckEnv(env, "NewString");
    JavaObject* s = NewJavaString(std::u16string(reinterpret_cast<const char16_t*>(chars), static_cast<size_t>(length)));
    TraceLine("jni NewString %s", EncodeUtf8(s->text).c_str());
    return Ref<jstring>(s);
}

static jsize JNICALL GetStringLength(JNIEnv* env, jstring s) {
    CheckEnv(env, "GetStringLength");
    TraceLine("jni GetStringLength");
    return static_cast<jsize>(Obj(s)->text.size());
}

/* arrays */

static jobjectArray JNICALL NewObjectArray(JNIEnv* env, jsize length, jclass cls, jobject init) {
    JavaThread& t = CheckEnv(env, "NewObjectArray");
    JavaObject* c = Obj(cls);
    if (!c || c->kind != ObjKind::Class) FatalJava("NewObjectArray: the class argument is not a class");
    TraceLine("jni NewObjectArray %s[%ld]", c->classInfo->name.c_str(), static_cast<long>(length));
    if (length < 0) {
        std::string message = std::to_string(length);
        ThrowJava(t, "java/lang/NegativeArraySizeException", &message);
        return nullptr;
    }
    JavaObject* a = NewJavaArray(c->classInfo->name, static_cast<size_t>(length));
    for (JavaObject*& item : a->items) item = Obj(init);
    return Ref<jobjectArray>(a);
}

static bool CheckIndex(JavaThread& t, JavaObject* a, jsize index) {
    if (index >= 0 && static_cast<size_t>(index) < a->items.size()) return true;
    std::string message = "Index " + std::to_string(index) + " out of bounds for length " + std::to_string(a->items.size());
    ThrowJava(t, "java/lang/ArrayIndexOutOfBoundsException", &message);
    return false;
}

static void JNICALL SetObjectArrayElement(JNIEnv* env, jobjectArray array, jsize index, jobject value) {
    JavaThread& t = CheckEnv(env, "SetObjectArrayElement");
    JavaObject* a = Obj(array);
    TraceLine("jni SetObjectArrayElement [%ld]", static_cast<long>(index));
    if (!CheckIndex(t, a, index)) return;
    if (value && !IsInstanceOf(Obj(value), a->itemClass)) {
        std::string message = Obj(value)->className;
        for (char& c : message)
            if (c == '/') c = '.';
        ThrowJava(t, "java/lang/ArrayStoreException", &message);
        return;
    }
    a->items[static_cast<size_t>(index)] = Obj(value);
}

static jobject JNICALL GetObjectArrayElement(JNIEnv* env, jobjectArray array, jsize index) {
    JavaThread& t = CheckEnv(env, "GetObjectArrayElement");
    TraceLine("jni GetObjectArrayElement [%ld]", static_cast<long>(index));
    return CheckIndex(t, Obj(array), index) ? Ref(Obj(array)->items[static_cast<size_t>(index)]) : nullptr;
}

static jsize JNICALL GetArrayLength(JNIEnv* env, jarray array) {
    CheckEnv(env, "GetArrayLength");
    TraceLine("jni GetArrayLength");
    return static_cast<jsize>(Obj(array)->items.size());
}

/* exceptions */

static jboolean JNICALL ExceptionCheck(JNIEnv* env) {
    JavaThread& t = CheckEnv(env, "ExceptionCheck");
    TraceLine("jni ExceptionCheck %s", t.pending ? "true" : "false");
    return t.pending ? JNI_TRUE : JNI_FALSE;
}

static jthrowable JNICALL ExceptionOccurred(JNIEnv* env) {
    JavaThread& t = CheckEnv(env, "ExceptionOccurred");
    TraceLine("jni ExceptionOccurred %s", t.pending ? ThrowableText(t.pending).c_str() : "null");
    return Ref<jthrowable>(t.pending);
}

// HotSpot prints "Exception in thread "name" " through its own output (the vfprintf hook, or the
// process's stderr), and then the throwable's printStackTrace on Java's System.err.
static void JNICALL ExceptionDescribe(JNIEnv* env) {
    JavaThread& t = CheckEnv(env, "ExceptionDescribe");
    JavaObject* e = t.pending;
    TraceLine("jni ExceptionDescribe %s", e ? ThrowableText(e).c_str() : "(none)");
    if (!e) return;
    t.pending = nullptr;
    VmPrint("Exception ");
    VmPrint("in thread \"%s\" ", t.name.c_str());
    PrintStackTrace(e);
}

static void JNICALL ExceptionClear(JNIEnv* env) {
    JavaThread& t = CheckEnv(env, "ExceptionClear");
    TraceLine("jni ExceptionClear");
    t.pending = nullptr;
}

static jint JNICALL Throw(JNIEnv* env, jthrowable e) {
    JavaThread& t = CheckEnv(env, "Throw");
    TraceLine("jni Throw");
    t.pending = Obj(e);
    return JNI_OK;
}

static jint JNICALL ThrowNew(JNIEnv* env, jclass cls, const char* message) {
    JavaThread& t = CheckEnv(env, "ThrowNew");
    JavaObject* c = Obj(cls);
    if (!c || c->kind != ObjKind::Class || !c->classInfo->throwable) FatalJava("ThrowNew: not a throwable class");
    TraceLine("jni ThrowNew %s", c->classInfo->name.c_str());
    std::string text = message ? message : "";
    ThrowJava(t, c->classInfo->name.c_str(), message ? &text : nullptr);
    return JNI_OK;
}

static void JNICALL FatalError(JNIEnv* env, const char* message) {
    CheckEnv(env, "FatalError");
    TraceLine("jni FatalError %s", message ? message : "");
    FatalJava(message ? message : "");
}

/* references: objects are never collected, so a reference is the object itself */

static jobject JNICALL NewRef(JNIEnv* env, jobject o) {
    CheckEnv(env, "NewRef");
    TraceLine("jni NewRef");
    return o;
}

static void JNICALL DeleteRef(JNIEnv* env, jobject) {
    CheckEnv(env, "DeleteLocalRef");
    TraceLine("jni DeleteRef");
}

static jboolean JNICALL IsSameObject(JNIEnv* env, jobject a, jobject b) {
    CheckEnv(env, "IsSameObject");
    TraceLine("jni IsSameObject");
    return a == b ? JNI_TRUE : JNI_FALSE;
}

static jint JNICALL EnsureLocalCapacity(JNIEnv* env, jint) {
    CheckEnv(env, "EnsureLocalCapacity");
    TraceLine("jni EnsureLocalCapacity");
    return JNI_OK;
}

static void FillDataFunctions(JNINativeInterface_& t) {
    t.NewStringUTF = NewStringUTF;
    t.NewString = NewString;
    t.GetStringLength = GetStringLength;
    t.NewObjectArray = NewObjectArray;
    t.SetObjectArrayElement = SetObjectArrayElement;
    t.GetObjectArrayElement = GetObjectArrayElement;
    t.GetArrayLength = GetArrayLength;
    t.ExceptionCheck = ExceptionCheck;
    t.ExceptionOccurred = ExceptionOccurred;
    t.ExceptionDescribe = ExceptionDescribe;
    t.ExceptionClear = ExceptionClear;
    t.Throw = Throw;
    t.ThrowNew = ThrowNew;
    t.FatalError = FatalError;
    t.NewGlobalRef = NewRef;
    t.NewLocalRef = NewRef;
    t.DeleteGlobalRef = DeleteRef;
    t.DeleteLocalRef = DeleteRef;
    t.IsSameObject = IsSameObject;
    t.EnsureLocalCapacity = EnsureLocalCapacity;
}

const JNINativeInterface_* NativeTable() {
    static JNINativeInterface_ table;
    static std::once_flag built;
    std::call_once(built, [] {
        FillUnmodelledNative(table);
        FillClassFunctions(table);
        FillCallFunctions(table);
        FillDataFunctions(table);
        CheckTableComplete(&table, sizeof table, 4, "JNINativeInterface_");
    });
    return &table;
}
