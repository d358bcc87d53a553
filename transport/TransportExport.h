// Export macro of the Transport shared library.
#pragma once

#define TRANSPORT_API __attribute__((visibility("default")))
