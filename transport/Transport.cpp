// The transport interface's shared do-nothing defaults.
#include "transport/Transport.h"

Transport::~Transport() = default;

const char* Transport::GetAttachmentProperty(int, const char*) { return nullptr; }
const char* Transport::GetAttachmentProperty(const char*, const char*) { return nullptr; }

void TransportDefaults::SetProxy(const char*, short, const char*, const char*) {}
const char* TransportDefaults::GetHeader(const char*) { return nullptr; }
void TransportDefaults::SetProperty(const char*, const char*) {}
const char* TransportDefaults::GetProperty(const char*) { return nullptr; }
bool TransportDefaults::AddAttachment(const char*, const char*, const char*, const char*) {
  return false;
}

unsigned char* TransportDefaults::GetAttachment(int, unsigned long& size) {
  size = 0;
  return nullptr;
}

unsigned char* TransportDefaults::GetAttachment(const char*, unsigned long& size) {
  size = 0;
  return nullptr;
}
