# Flags and the target of the Windows builds (win32 ships, win64 runs under Wine).

# The exe must stay small: no exceptions, RTTI or unwind tables, every function
# and datum in its own section so the linker can drop what nothing uses. The
# i686 compiler keeps frame pointers even at -Os; nothing here walks frames,
# and omitting them takes 300 bytes off the code.
add_compile_options(-malign-data=abi -fno-exceptions -fno-rtti -fno-unwind-tables -fno-asynchronous-unwind-tables
                    -fomit-frame-pointer -ffunction-sections -fdata-sections)
# 32-bit Windows keeps the stack aligned to 4 bytes only, so every callback
# (window procedure, thread start) arrives so aligned whatever the compiler
# prefers; keeping 16 between our own calls only pads frames: 224 bytes of
# code. Nothing here needs more than 4 (no SSE on the i686 target). The x64
# convention aligns to 16 and stays as it is.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  add_compile_options(-mpreferred-stack-boundary=2)
endif()
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX UNICODE _UNICODE
                        _WIN32_WINNT=0x0A00 WINVER=0x0A00)

# The Win32 edge: the system calls, kept apart from the portable core.
add_library(zorva_edge STATIC)
target_link_libraries(zorva_edge PUBLIC zorva_core)

# The C runtime's crtbegin.o and crtend.o register DWARF unwind tables, with
# a libgcc DLL they look for by its bare name when one is loaded. The exe
# throws nothing and unwinds nothing, so it starts from crt2.o alone: four
# imports and 224 bytes of code fewer. Its test builds start the same way.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=crt2.o
                OUTPUT_VARIABLE zorva_crt2 OUTPUT_STRIP_TRAILING_WHITESPACE)
function(zorva_start_without_unwind_registration target)
  target_link_options(${target} PRIVATE -nostartfiles)
  target_link_libraries(${target} PRIVATE ${zorva_crt2})
endfunction()

add_executable(ZorvaSetup WIN32)
target_link_libraries(ZorvaSetup PRIVATE zorva_edge)
zorva_start_without_unwind_registration(ZorvaSetup)
target_link_options(ZorvaSetup PRIVATE
  # Static runtime: the exe needs no DLL beyond Windows' own.
  -static -static-libgcc -static-libstdc++
  # Drop unreferenced sections and the symbol table.
  -Wl,--gc-sections -s
  # No link time stamp in the PE header, so two builds give the same bytes.
  -Wl,--no-insert-timestamp
  # Data of a DLL only through __declspec(dllimport): nothing for start-up to
  # mend at run time, which has no relocator for it (shell/setup_main_win.cpp).
  -Wl,--disable-auto-import)
