// The one instantiation of the name/value map over StringMap, exported by the class template.
#include "common/KVMapImp.h"

template class KVMapImp<StringMap>;
