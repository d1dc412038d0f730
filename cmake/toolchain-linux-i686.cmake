# 32-bit x86 Linux: the deliverables' code generation and BlockRecord layout,
# run under qemu-i386 where the machine cannot start 32-bit programs itself.
# Code that uses the framework gets -msse2 -mfpmath=sse for this processor
# from the framework's target (cmake/Plugins.cmake).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -m32)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -m32)
# -L /: the 32-bit loader and libraries come from this machine's own multilib.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386;-L;/)
