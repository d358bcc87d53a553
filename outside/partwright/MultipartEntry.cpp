// MultipartEntry: one part of a parsed multipart body, with its headers and content.
#include "partwright/MultipartEntry.h"

#include "partwright/HeaderValueInternal.h"
#include "partwright/MultipartEntryInternal.h"
#include "partwright/PartFileInternal.h"
#include "sealvault/Debug.h"

MultipartEntry::MultipartEntry() : impl_(std::make_unique<Impl>()) {}

MultipartEntry::~MultipartEntry() = default;

const char* MultipartEntry::GetHeader(const char* name) const {
  if (name == nullptr) return nullptr;
  for (const auto& [key, value] : impl_->headers) {
    if (partwright::EqualsNoCase(key, name)) return value.c_str();
  }
  return nullptr;
}

const char* MultipartEntry::GetFileName() const {
  return impl_->filename ? impl_->filename->c_str() : nullptr;
}

unsigned char* MultipartEntry::GetContent() {
  if (!impl_->path.empty() && !impl_->loaded) {
    std::string error;
    if (!partwright::PartFile::ReadAll(impl_->path, impl_->length, impl_->content, error) ||
        impl_->content.size() != impl_->length) {
      Debug d("MultipartEntry::GetContent");
      d.logerror("Partwright", __LINE__, "Cannot read the stored part back: %s\n",
                 error.empty() ? (impl_->path + ": length changed").c_str() : error.c_str());
      impl_->content.clear();
      return nullptr;
    }
    impl_->loaded = true;
  }
  return reinterpret_cast<unsigned char*>(impl_->content.data());
}

unsigned long MultipartEntry::GetLength() const { return impl_->length; }

const char* MultipartEntry::GetName() const { return impl_->name ? impl_->name->c_str() : nullptr; }

const char* MultipartEntry::GetId() const { return impl_->id ? impl_->id->c_str() : nullptr; }
