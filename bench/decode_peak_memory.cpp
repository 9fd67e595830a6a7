// Peak resident memory of decoding one body, relative to the body's size. One case per
// process: the reading is the process's high-water mark.
#include <sys/resource.h>

#include <cstdio>
#include <string>
#include <string_view>

#include "bench/decode_bodies.h"
#include "gate/web_module1.h"

namespace {

double MaxResidentBytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) * 1024.0;  // kilobytes on Linux
}

}  // namespace

int main(int argc, char** argv) {
  const std::string_view which = argc > 1 ? argv[1] : "image";
  if (which != "image" && which != "tiny") {
    std::fprintf(stderr, "usage: decode_peak_memory [image|tiny]\n");
    return 2;
  }
  const double baseline = MaxResidentBytes();
  const std::string body = which == "image" ? orvane::bench::OneImageBody(50u << 20)
                                            : orvane::bench::TinyPartsBody(100000);
  const double with_body = MaxResidentBytes();

  orvane::TWebModule1 module;
  module.ParseMultipartBody(body);
  const double after_decoding = MaxResidentBytes();

  const double size = static_cast<double>(body.size());
  std::printf("case %s: body %.1f MiB, form text %zu bytes, upload %zu bytes\n",
              std::string(which).c_str(), size / (1 << 20), module.FormText.size(),
              module.UploadData.size());
  std::printf("peak above baseline: %.1f MiB with the body, %.1f MiB after decoding\n",
              (with_body - baseline) / (1 << 20), (after_decoding - baseline) / (1 << 20));
  std::printf("peak / body = %.3f\n", (after_decoding - baseline) / size);
  return 0;
}
