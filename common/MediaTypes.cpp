// The table of media types by file extension and its lookup.
#include "common/MediaTypes.h"

#include <cstring>
#include <string_view>

#include "common/NoCase.h"

namespace {

struct MediaTypeRow {
  // Extensions separated by ";" or blanks. A comma does not separate, so
  // "scd,sch" is one entry; the table has always read that way.
  const char* extensions;
  const char* mediaType;
};

// Rows in lookup order; a later row that lists an extension again overrides
// an earlier one ("mpeg" ends up as video).
constexpr MediaTypeRow kMediaTypes[] = {
    {"html;htm;shtm;htx;asp;css", "text/html"},
    {"css", "text/html"},
    {"xml", "text/xml"},
    {"xsd", "text/xml"},
    {"xsl", "text/xsl"},
    {"sri", "text/xml"},
    {"jpg;jpeg;jpe;jfif;pjpeg;pjp", "image/jpeg"},
    {"gif", "image/gif"},
    {"dll", "application/octet-stream"},
    {"cgi", ""},
    {"class;jar", ""},
    {"wsdl", "text/xml"},
    {"dim;dime", "application/dime"},
    {"tmpl", "text/xml"},
    {"mpeg;mpa;abs;mpega", "audio/x-mpeg"},
    {"mpeg;mpg;mpe;mpv;mpegv;m1v", "video/mpeg"},
    {"bmp;dib", "image/bmp"},
    {"zip", "application/x-zip-compressed"},
    {"tar", "application/x-tar-compressed"},
    {"txt;text;ini;log", "text/plain"},
    {"doc;dot", "application/msword"},
    {"rtf", "application/rtf"},
    {"mid;rmi", "audio/mid"},
    {"ra;rm;ram", "audio/x-pn-realaudio"},
    {"rpm", "audio/x-pn-realaudio-plugin"},
    {"tiff;tif", "image/tiff"},
    {"avi", "video/x-msvideo"},
    {"wav", "audio/x-wav"},
    {"ps", "application/postscript"},
    {"pdf", "application/pdb"},
    {"aif;aiff", "audio/aif"},
    {"aim", "application/x-aim"},
    {"au", "audio/basic"},
    {"xls", "application/msexcel"},
    {"xlc", "application/xlc"},
    {"eml;mht;mhtml;mws", "message/rfc822"},
    {"js;mocha;java", "application/x-javascript"},
    {"mdb;mda;mde", "application/vnd.ms-access"},
    {"ppt;pot;ppa;pps;pwz", "application/vnd.ms-powerpoint"},
    {"scd,sch;sc2", "application/vnd.ms-schedule"},
    {"asf;asx", "video/x-ms-asf"},
    {"wma", "audio/x-ms-wma"},
    {"wax", "audio/x-ms-wax"},
    {"mov", "video/quicktime"},
    {"vcf", "text/x-vcard"},
    {"exe", "application/Octet-Stream"},
    {"gz", "text/html"},
    {"der", "application/x-x509-ca-cert"},
    {"pem", "application/x-x509-ca-cert"},
    {"unk", "application/Octet-Stream"},
    {"bin", "application/Octet-Stream"},
    {"vbs", "text/vbscript"},
    {"ico", "image/icon"},
};

constexpr const char* kDefaultMediaType = "application/octet-stream";

bool RowListsExtension(std::string_view list, std::string_view extension) {
  while (!list.empty()) {
    const size_t end = list.find_first_of("; ");
    if (corvane::EqualsNoCase(list.substr(0, end), extension)) return true;
    if (end == std::string_view::npos) break;
    list.remove_prefix(end + 1);
  }
  return false;
}

}  // namespace

const char* GetContentType(const char* fileName) {
  if (fileName == nullptr) return kDefaultMediaType;
  // UTF-8 continuation bytes are never ".", so the last "." byte is the last
  // "." character.
  const char* dot = std::strrchr(fileName, '.');
  if (dot == nullptr) return kDefaultMediaType;
  const std::string_view extension(dot + 1);
  const char* result = kDefaultMediaType;
  for (const MediaTypeRow& row : kMediaTypes) {
    if (RowListsExtension(row.extensions, extension)) result = row.mediaType;
  }
  return result;
}
