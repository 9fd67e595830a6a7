// Decoding of a request body into FormText, UploadFileName and UploadData: multipart
// form data cut at its first line, else URL-encoded items.
#include <algorithm>
#include <optional>
#include <string>
#include <string_view>

#include "gate/entry_bounds.h"
#include "gate/form/delimiter_searcher.h"
#include "gate/leaves/image_types.h"
#include "gate/text/cgi_text.h"
#include "gate/text/field_list.h"
#include "gate/web_module1.h"
#include "platform/shift_jis.h"

namespace orvane {
namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kHeaderEnd = "\r\n\r\n";
constexpr std::string_view kContentType = "Content-Type:";
// A file part's type line as the decoder looks for it: exact case, one space, the type.
constexpr std::string_view kContentTypeLine = "Content-Type: ";

bool Contains(std::string_view text, std::string_view pattern) {
  return text.find(pattern) != std::string_view::npos;
}

// The text after the first occurrence of the opening (which ends in a double quote) up
// to the next double quote; empty when unterminated; none when the opening is absent.
std::optional<std::string_view> QuotedAttribute(std::string_view header, std::string_view opening) {
  const std::size_t at = header.find(opening);
  if (at == std::string_view::npos) return std::nullopt;
  const std::string_view rest = header.substr(at + opening.size());
  const std::size_t quote = rest.find('"');
  if (quote == std::string_view::npos) return std::string_view();
  return rest.substr(0, quote);
}

// The last path component of a client's file name. Browsers send a bare name, but a
// separator left in it would reach a path on disk through the stored extension.
std::string_view LastPathComponent(std::string_view name) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if (c == '\\' || c == ':' || c == '/') {
      start = i + 1;
    } else if (CharacterLength(name, i) == 2) {
      ++i;  // its second byte, a backslash included, separates nothing
    }
  }
  return name.substr(start);
}

// A field name must not split its own line: an "=" in it would end the name early and
// make the rest of the line, never escaped, the value; a control byte could end the line.
bool IsUsableFieldName(std::string_view name) {
  return std::none_of(name.begin(), name.end(),
                      [](char c) { return c == '=' || static_cast<unsigned char>(c) < 0x20; });
}

// Whether the header names a type the decoder takes (image_types.h) anywhere after
// "Content-Type: "; a type that merely begins with one of them counts.
bool HasImageType(std::string_view header) {
  for (std::size_t at = header.find(kContentTypeLine); at != std::string_view::npos;
       at = header.find(kContentTypeLine, at + 1)) {
    const std::string_view rest = header.substr(at + kContentTypeLine.size());
    for (const ImageType& type : kImageTypes) {
      if (type.taken_by_decoder && rest.starts_with(type.content_type)) return true;
    }
  }
  return false;
}

// Room for extra more bytes, grown geometrically for many small lines. A long value gets
// its room at once, so the text never holds its old and new room both filled while the
// value is escaped into it byte by byte.
void ReserveMore(std::string& text, std::size_t extra) {
  if (text.capacity() - text.size() >= extra) return;
  text.reserve(std::max(text.size() + extra, 2 * text.capacity()));
}

// Whether a line of that size still fits the form text. When it does not, the request
// is too long and decoding stops: the line is never escaped into memory.
bool HasRoomFor(TWebModule1& module, std::size_t line_size) {
  const std::size_t held = module.FormText.size();
  if (held <= kMostFormTextSize && line_size <= kMostFormTextSize - held) return true;
  module.EntryTooLong = true;
  return false;
}

// The line name "=" value CR LF, both escaped, as URL-encoded items are: a name is
// published in leaf records as it is stored.
void AppendEscapedLine(std::string& text, std::string_view name, std::string_view value) {
  AppendEscapedFieldText(text, name);
  text.append(1, '=');
  AppendEscapedFieldText(text, value);
  text.append(kCrLf);
}

std::size_t EscapedLineSize(std::string_view name, std::string_view value) {
  return EscapedFieldTextSize(name) + 1 + EscapedFieldTextSize(value) + kCrLf.size();
}

}  // namespace

void TWebModule1::ParseMultipartBody(std::string_view body) {
  const std::size_t first_line_end = body.find(kCrLf);
  if (first_line_end == std::string_view::npos) return;
  const std::string_view delimiter = body.substr(0, first_line_end);
  if (delimiter.empty()) return;  // an empty delimiter is never found

  const TDelimiterSearcher searcher(delimiter);
  std::size_t position = first_line_end + kCrLf.size();
  while (true) {
    const std::size_t at = searcher.Find(body, position);
    if (at == std::string_view::npos) return;
    std::string_view part = body.substr(position, at - position);
    if (part.ends_with(kCrLf)) part.remove_suffix(kCrLf.size());
    ParseMultipartPart(part);
    if (EntryTooLong) return;
    position = at + delimiter.size();
    if (body.substr(position).starts_with(kCrLf)) position += kCrLf.size();
  }
}

void TWebModule1::ParseMultipartPart(std::string_view part) {
  const std::size_t header_end = part.find(kHeaderEnd);
  if (header_end == std::string_view::npos) return;
  const std::string_view header = part.substr(0, header_end);
  const std::string_view content = part.substr(header_end + kHeaderEnd.size());

  const std::optional<std::string_view> field_name = QuotedAttribute(header, "name=\"");
  if (!field_name || !IsUsableFieldName(*field_name)) return;

  if (!Contains(header, kContentType)) {
    // Escaped straight into the form text: a long value is never held twice.
    const std::string_view value = TrimTrailingControls(content);
    const std::size_t line_size = EscapedLineSize(*field_name, value);
    if (!HasRoomFor(*this, line_size)) return;
    ReserveMore(FormText, line_size);
    AppendEscapedLine(FormText, *field_name, value);
    return;
  }

  const std::string_view file_name =
      LastPathComponent(QuotedAttribute(header, "filename=\"").value_or(std::string_view()));
  if (!HasImageType(header) || file_name.empty() || content.empty()) return;
  if (!HasRoomFor(*this, EscapedLineSize(*field_name, file_name))) return;
  UploadFileName.assign(file_name);
  UploadData = content;  // a view into the body, which outlives the handler's use of it
  // The stored extension comes from the name as sent; the line is a value like any other.
  AppendEscapedLine(FormText, *field_name, file_name);
}

void TWebModule1::ParseUrlEncodedBody(std::string_view body) {
  FormText.clear();
  // Every three bytes sent give at least one byte of form text (%XX gives one, "&" ends a
  // line of two more), so a longer body is too long without any item of it decoded.
  if (TrimTrailingControls(body).size() / 3 > kMostFormTextSize) {
    EntryTooLong = true;
    return;
  }
  const std::size_t size = QueryItemsEscapedSize(body);
  if (size > kMostFormTextSize) {
    EntryTooLong = true;
    return;
  }
  // Room for the final size at once: a growing text would hold its old and its new room
  // together, and a body of N "&" gives a text twice its size.
  FormText.reserve(size);
  AppendQueryItemsEscaped(body, FormText);
}

}  // namespace orvane
