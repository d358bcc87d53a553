// Source of new UUIDs, the stand-in for the platform's UUID generation.
#pragma once

#include <string>

namespace corvane::platform {

// Appends a new random (version 4) UUID in its standard 36-character
// lower-case text form with dashes ("0f8fad5b-d9cb-469f-a165-70867728950e").
// Returns false, with out unchanged, when no UUID can be made. Thread-safe.
bool AppendNewUuidText(std::string& out);

}  // namespace corvane::platform
