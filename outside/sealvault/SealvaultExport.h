// Export macro of the Sealvault shared library.
#pragma once

#define SEALVAULT_API __attribute__((visibility("default")))
