// The double links ucrtbase instead of msvcrt (see CMakeLists.txt). MinGW's thread library is built
// for msvcrt and calls its _setjmp, which ucrt exports under the name __intrinsic_setjmp.
#ifdef _WIN64
asm(".globl _setjmp\n_setjmp:\n\tjmp *__imp___intrinsic_setjmp(%rip)");
#else
asm(".globl __setjmp\n__setjmp:\n\tjmp *__imp____intrinsic_setjmp");
#endif
