// Export macro of the Partwright shared library.
#pragma once

#define PARTWRIGHT_API __attribute__((visibility("default")))
// Marks the inner pieces of exported classes that hosts never call.
#define PARTWRIGHT_LOCAL __attribute__((visibility("hidden")))
