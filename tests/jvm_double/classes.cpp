// The classes the double knows: a few of the class library's, with the members a launcher uses, and
// the script classes found on the class path. System properties live here too.
#include "jvm_double.h"

static std::map<std::string, ClassInfo*> Classes;        // loaded classes by slash name; under VmLock
static std::map<std::string, std::string> Properties;    // system properties (UTF-8); under VmLock

static std::string JavaText(JavaObject* s) { return s ? EncodeUtf8(s->text) : std::string("null"); }

static jvalue Nothing() {
    jvalue v;
    v.j = 0;
    return v;
}

static jvalue ObjectValue(JavaObject* o) {
    jvalue v = Nothing();
    v.l = reinterpret_cast<jobject>(o);
    return v;
}

static JavaObject* Arg(const std::vector<jvalue>& args, size_t i) {
    return reinterpret_cast<JavaObject*>(args[i].l);
}

/* java/lang/System */

static jvalue SystemSetStream(JavaThread&, MethodInfo& m, JavaObject*, const std::vector<jvalue>& args) {
    std::lock_guard<std::recursive_mutex> hold(StreamLock);
    JavaObject* stream = Arg(args, 0);
    (m.name == "setOut" ? SystemOut : SystemErr) = stream;
    TraceLine("System.%s %s", m.name.c_str(),
              stream && stream->out ? stream->out->fileName.c_str() : "null");
    return Nothing();
}

static jvalue SystemSetProperty(JavaThread& t, MethodInfo&, JavaObject*, const std::vector<jvalue>& args) {
    JavaObject* key = Arg(args, 0);
    JavaObject* value = Arg(args, 1);
    std::string text;
    if (!key || !value) {
        text = key ? "value can't be null" : "key can't be null";
        ThrowJava(t, "java/lang/NullPointerException", &text);
        return Nothing();
    }
    if (key->text.empty()) {
        text = "key can't be empty";
        ThrowJava(t, "java/lang/IllegalArgumentException", &text);
        return Nothing();
    }
    std::lock_guard<std::recursive_mutex> hold(VmLock);
    const std::string* old = GetJavaProperty(JavaText(key));
    JavaObject* previous = old ? NewJavaString(DecodeUtf8(*old)) : nullptr;
    SetJavaProperty(JavaText(key), JavaText(value));
    TraceLine("System.setProperty %s=%s", JavaText(key).c_str(), JavaText(value).c_str());
    return ObjectValue(previous);
}

static jvalue SystemGetProperty(JavaThread& t, MethodInfo&, JavaObject*, const std::vector<jvalue>& args) {
    JavaObject* key = Arg(args, 0);
    if (!key) {
        std::string text = "key can't be null";
        ThrowJava(t, "java/lang/NullPointerException", &text);
        return Nothing();
    }
    std::lock_guard<std::recursive_mutex> hold(VmLock);
    const std::string* value = GetJavaProperty(JavaText(key));
    return ObjectValue(value ? NewJavaString(DecodeUtf8(*value)) : nullptr);
}

static jvalue SystemExit(JavaThread&, MethodInfo&, JavaObject*, const std::vector<jvalue>& args) {
    TraceLine("System.exit %ld", static_cast<long>(args[0].i));
    ExitJava(args[0].i);
}

/* java/io/FileOutputStream and java/io/PrintStream (constructors return the new object) */

static jvalue NewFileOutputStream(JavaThread& t, MethodInfo& m, JavaObject*, const std::vector<jvalue>& args) {
    JavaObject* name = Arg(args, 0);
    if (!name) {
        ThrowJava(t, "java/lang/NullPointerException", nullptr);
        return Nothing();
    }
    bool append = m.signature == "(Ljava/lang/String;Z)V" && args[1].z;
    return ObjectValue(OpenFileStream(t, JavaText(name), append));
}

static jvalue NewPrintStreamObject(JavaThread& t, MethodInfo&, JavaObject*, const std::vector<jvalue>& args) {
    JavaObject* out = Arg(args, 0);
    if (!out) {
        ThrowJava(t, "java/lang/NullPointerException", nullptr);
        return Nothing();
    }
    return ObjectValue(MakePrintStream(out));
}

static jvalue PrintStreamPrint(JavaThread&, MethodInfo& m, JavaObject* self, const std::vector<jvalue>& args) {
    if (m.name != "flush") PrintText(self, JavaText(Arg(args, 0)), m.name == "println");
    return Nothing();
}

/* script classes */

static jvalue ScriptMain(JavaThread& t, MethodInfo& m, JavaObject*, const std::vector<jvalue>& args) {
    JavaObject* array = Arg(args, 0);
    std::vector<std::u16string> texts;
    if (array)
        for (JavaObject* s : array->items) texts.push_back(s ? s->text : u"null");
    RunScriptMain(t, *m.owner, texts);
    return Nothing();
}

struct BuiltinMethod {
    const char* className;
    const char* name;
    const char* signature;
    bool isStatic;
    MethodFn fn;
};

static const BuiltinMethod BuiltinMethods[] = {
    {"java/lang/System", "setOut", "(Ljava/io/PrintStream;)V", true, SystemSetStream},
    {"java/lang/System", "setErr", "(Ljava/io/PrintStream;)V", true, SystemSetStream},
    {"java/lang/System", "setProperty", "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;", true,
     SystemSetProperty},
    {"java/lang/System", "getProperty", "(Ljava/lang/String;)Ljava/lang/String;", true, SystemGetProperty},
    {"java/lang/System", "exit", "(I)V", true, SystemExit},
    {"java/io/FileOutputStream", "<init>", "(Ljava/lang/String;Z)V", false, NewFileOutputStream},
    {"java/io/FileOutputStream", "<init>", "(Ljava/lang/String;)V", false, NewFileOutputStream},
    {"java/io/PrintStream", "<init>", "(Ljava/io/OutputStream;)V", false, NewPrintStreamObject},
    {"java/io/PrintStream", "<init>", "(Ljava/io/OutputStream;Z)V", false, NewPrintStreamObject},
    {"java/io/PrintStream", "println", "(Ljava/lang/String;)V", false, PrintStreamPrint},
    {"java/io/PrintStream", "print", "(Ljava/lang/String;)V", false, PrintStreamPrint},
    {"java/io/PrintStream", "flush", "()V", false, PrintStreamPrint},
};

static const char* const PlainClasses[] = {
    "java/lang/Object", "java/lang/String", "java/lang/System", "java/lang/Class", "java/lang/Thread",
    "java/io/OutputStream", "java/io/FileOutputStream", "java/io/PrintStream",
};

static const char* const ThrowableClasses[] = {
    "java/lang/Throwable", "java/lang/Exception", "java/lang/RuntimeException", "java/lang/Error",
    "java/lang/IllegalStateException", "java/lang/IllegalArgumentException", "java/lang/NullPointerException",
    "java/lang/NoClassDefFoundError", "java/lang/NoSuchMethodError", "java/lang/ClassNotFoundException",
    "java/lang/ArrayIndexOutOfBoundsException", "java/lang/ArrayStoreException",
    "java/lang/NegativeArraySizeException", "java/io/IOException", "java/io/FileNotFoundException",
};

static ClassInfo* DefineClass(const std::string& name, bool throwable) {
    ClassInfo* c = new ClassInfo;
    c->name = name;
    c->throwable = throwable;
    c->mirror = new JavaObject(ObjKind::Class, "java/lang/Class");
    c->mirror->classInfo = c;
    Classes[name] = c;
    return c;
}

static void DefineBuiltins() {
    for (const char* name : PlainClasses) DefineClass(name, false);
    for (const char* name : ThrowableClasses) DefineClass(name, true);
    for (const BuiltinMethod& b : BuiltinMethods) {
        ClassInfo* c = Classes[b.className];
        c->methods.push_back(new MethodInfo{c, b.name, b.signature, b.isStatic, b.fn});
    }
}

// The class loader's failure: NoClassDefFoundError caused by ClassNotFoundException, as HotSpot reports it.
static void ThrowClassNotFound(JavaThread& t, const std::string& name) {
    std::string dotted = name;
    for (char& ch : dotted)
        if (ch == '/') ch = '.';
    JavaObject* cause = NewThrowable("java/lang/ClassNotFoundException", &dotted);
    cause->frames = {
        "java.base/jdk.internal.loader.BuiltinClassLoader.loadClass(BuiltinClassLoader.java:641)",
        "java.base/jdk.internal.loader.ClassLoaders$AppClassLoader.loadClass(ClassLoaders.java:188)",
        "java.base/java.lang.ClassLoader.loadClass(ClassLoader.java:520)",
    };
    ThrowJava(t, "java/lang/NoClassDefFoundError", &name);
    t.pending->cause = cause;
}

static ClassInfo* LoadScriptClass(const std::string& name) {
    std::string text, origin;
    if (name.empty() || name.find('.') != std::string::npos || !FindClassScript(name, text, origin))
        return nullptr;  // a dotted name is never a class's internal name
    ClassInfo* c = DefineClass(name, false);
    c->script = ParseScript(name, text, origin);
    c->methods.push_back(new MethodInfo{c, "main", "([Ljava/lang/String;)V", true, ScriptMain});
    TraceLine("load %s from %s", name.c_str(), origin.c_str());
    return c;
}

ClassInfo* FindJavaClass(JavaThread& t, const std::string& name) {
    std::lock_guard<std::recursive_mutex> hold(VmLock);
    if (Classes.empty()) DefineBuiltins();
    auto found = Classes.find(name);
    if (found != Classes.end()) return found->second;
    ClassInfo* c = LoadScriptClass(name);
    if (!c) ThrowClassNotFound(t, name);
    return c;
}

MethodInfo* FindJavaMethod(JavaThread& t, ClassInfo* c, const char* name, const char* sig, bool isStatic) {
    for (MethodInfo* m : c->methods)
        if (m->name == name && m->signature == sig && m->isStatic == isStatic) return m;
    std::string message = name;
    ThrowJava(t, "java/lang/NoSuchMethodError", &message);
    return nullptr;
}

jvalue InvokeJava(JavaThread& t, MethodInfo& m, JavaObject* self, const std::vector<jvalue>& args) {
    t.javaDepth++;
    jvalue result = m.fn(t, m, self, args);
    t.javaDepth--;
    return result;
}

const std::string* GetJavaProperty(const std::string& key) {
    std::lock_guard<std::recursive_mutex> hold(VmLock);
    auto found = Properties.find(key);
    return found == Properties.end() ? nullptr : &found->second;
}

void SetJavaProperty(const std::string& key, const std::string& value) {
    std::lock_guard<std::recursive_mutex> hold(VmLock);
    Properties[key] = value;
}
