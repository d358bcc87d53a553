// Export macro of the common foundation classes that hosts may use.
#pragma once

// The common foundation is compiled into a static PIC library with hidden
// visibility; the classes a host may use carry this macro. Wirelane links the
// whole archive and so exports them; the other deliverables link it with
// --exclude-libs and keep their own copies private.
#define CORVANE_COMMON_API __attribute__((visibility("default")))
