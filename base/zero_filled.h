// Marks a large zero-filled static object for .bss by name: with
// -fdata-sections mingw's linker puts such objects into .data, where each
// would add its whole size to the exe.
#pragma once

#define ZERO_FILLED __attribute__((section(".bss")))
