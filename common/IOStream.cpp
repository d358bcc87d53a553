// Out-of-line destructor so the interface's vtable lives in one place.
#include "common/IOStream.h"

IOStream::~IOStream() = default;
