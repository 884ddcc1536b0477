// Java objects: strings, arrays and throwables, and how a throwable prints itself.
#include "jvm_double.h"

JavaObject* NewJavaString(const std::u16string& text) {
    JavaObject* s = new JavaObject(ObjKind::String, "java/lang/String");
    s->text = text;
    return s;
}

JavaObject* NewJavaArray(const std::string& itemClass, size_t length) {
    JavaObject* a = new JavaObject(ObjKind::Array, "[L" + itemClass + ";");
    a->itemClass = itemClass;
    a->items.assign(length, nullptr);
    return a;
}

JavaObject* NewThrowable(const std::string& className, const std::string* message) {
    JavaObject* e = new JavaObject(ObjKind::Throwable, className);
    if (message) {
        e->message = *message;
        e->hasMessage = true;
    }
    return e;
}

void ThrowJava(JavaThread& t, const char* className, const std::string* message) {
    t.pending = NewThrowable(className, message);
    TraceLine("throw %s", ThrowableText(t.pending).c_str());
}

static std::string Dotted(std::string name) {
    for (char& c : name)
        if (c == '/') c = '.';
    return name;
}

std::string ThrowableText(JavaObject* e) {
    std::string text = Dotted(e->className);
    if (e->hasMessage) text += ": " + e->message;
    return text;
}

// Throwable.printStackTrace: the throwable's text, its frames, then each cause after "Caused by: ".
void PrintStackTrace(JavaObject* e) {
    std::lock_guard<std::recursive_mutex> hold(StreamLock);
    for (const char* prefix = ""; e; e = e->cause, prefix = "Caused by: ") {
        PrintText(SystemErr, prefix + ThrowableText(e), true);
        for (const std::string& frame : e->frames) PrintText(SystemErr, "\tat " + frame, true);
    }
}

bool IsInstanceOf(JavaObject* obj, const std::string& className) {
    if (!obj) return false;
    if (className == "java/lang/Object" || className == obj->className) return true;
    if (obj->kind == ObjKind::Throwable) return className == "java/lang/Throwable";
    if (obj->kind == ObjKind::FileStream) return className == "java/io/OutputStream";
    if (obj->kind == ObjKind::PrintStream)
        return className == "java/io/OutputStream" || className == "java/io/FilterOutputStream";
    return false;
}
