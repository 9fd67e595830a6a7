// Request bodies for the decoding benchmarks, each built in one buffer of its exact size
// so that peak-memory readings are not blurred by string growth.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace orvane::bench {

inline constexpr std::string_view kDelimiter = "--------------------------orvane5e3c9a17b2d4f608";

inline std::string TextPartText(std::string_view name, std::string_view value) {
  std::string part(kDelimiter);
  part.append("\r\nContent-Disposition: form-data; name=\"").append(name).append("\"\r\n\r\n");
  return part.append(value).append("\r\n");
}

// A posting: a few text fields and one image of pseudo-random (incompressible) bytes.
inline std::string OneImageBody(std::size_t image_size) {
  const std::string fields = TextPartText("session", "site1") +
                             TextPartText("command", "postleaf") + TextPartText("id", "member1") +
                             TextPartText("title", "a title");
  std::string image_header(kDelimiter);
  image_header.append(
      "\r\nContent-Disposition: form-data; name=\"upfile\"; filename=\"C:\\pics\\photo.jpg\"\r\n"
      "Content-Type: image/jpeg\r\n\r\n");
  const std::string closing = "\r\n" + std::string(kDelimiter) + "--\r\n";

  std::string body;
  body.reserve(fields.size() + image_header.size() + image_size + closing.size());
  body.append(fields).append(image_header);
  const std::size_t image_start = body.size();
  body.resize(image_start + image_size);
  std::uint64_t state = 0x9E3779B97F4A7C15u;
  for (std::size_t at = image_start; at < body.size(); at += sizeof state) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    std::memcpy(&body[at], &state, std::min(sizeof state, body.size() - at));
  }
  body.append(closing);
  return body;  // not the reference append returns: that would copy the body
}

// A hostile body of many tiny text fields f0=v, f1=v, ...
inline std::string TinyPartText(int index) {
  std::string name = "f";
  name.append(std::to_string(index));
  return TextPartText(name, "v");
}

inline std::string TinyPartsBody(int parts) {
  std::size_t size = kDelimiter.size() + 4;
  for (int i = 0; i < parts; ++i) size += TinyPartText(i).size();
  std::string body;
  body.reserve(size);
  for (int i = 0; i < parts; ++i) body.append(TinyPartText(i));
  body.append(kDelimiter).append("--\r\n");
  return body;
}

inline std::string_view FirstLine(std::string_view body) {
  return body.substr(0, body.find("\r\n"));
}

}  // namespace orvane::bench
