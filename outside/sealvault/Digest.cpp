// Digest: the named-algorithm Digestor.
#include "sealvault/Digest.h"

Digest::Digest(const char* algorithm) : Digestor(algorithm) {}

Digest::~Digest() = default;
