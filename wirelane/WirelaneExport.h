// Export macro of the Wirelane shared library.
#pragma once

#define WIRELANE_API __attribute__((visibility("default")))
