# kr_jni: the JNI headers for Windows code. jni.h comes from the JDK installed on the build machine
# (its platform header is replaced by the project's own jvm/jni/jni_md.h for Windows).
# The JDK is found from KESTRUN_JDK_INCLUDE_DIR if given, else JAVA_HOME, else the javac on the PATH.
if(NOT KESTRUN_JDK_INCLUDE_DIR)
  find_program(KESTRUN_JAVAC javac HINTS ENV JAVA_HOME PATH_SUFFIXES bin NO_CMAKE_FIND_ROOT_PATH)
  set(_kr_jdk_hints)
  if(DEFINED ENV{JAVA_HOME})
    list(APPEND _kr_jdk_hints $ENV{JAVA_HOME}/include)
  endif()
  if(KESTRUN_JAVAC)
    # javac is usually a chain of links into the JDK's bin folder: follow it to the JDK home.
    get_filename_component(_kr_javac_real ${KESTRUN_JAVAC} REALPATH)
    get_filename_component(_kr_jdk_home ${_kr_javac_real} DIRECTORY)
    get_filename_component(_kr_jdk_home ${_kr_jdk_home} DIRECTORY)
    list(APPEND _kr_jdk_hints ${_kr_jdk_home}/include)
  endif()
  find_path(KESTRUN_JDK_INCLUDE_DIR jni.h HINTS ${_kr_jdk_hints} NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
endif()
if(NOT KESTRUN_JDK_INCLUDE_DIR)
  message(FATAL_ERROR "jni.h not found: install a JDK (Debian: openjdk-17-jdk-headless) or set "
                      "KESTRUN_JDK_INCLUDE_DIR to its include folder")
endif()
message(STATUS "JNI headers: ${KESTRUN_JDK_INCLUDE_DIR}/jni.h with jvm/jni/jni_md.h")

# Only the JDK's include folder itself, never its platform subfolder: jni_md.h must be the Windows one.
add_library(kr_jni INTERFACE)
target_include_directories(kr_jni INTERFACE ${CMAKE_SOURCE_DIR}/jvm/jni ${KESTRUN_JDK_INCLUDE_DIR})
