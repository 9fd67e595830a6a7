// The whole request cycle in-process, as the program runs it, on a site beside the
// executable: the input is an optional first line "?query" and the request body. Every
// request is a POST declaring the body's length; the site is put back after every input,
// so that each input meets the same members, settings and leaf directories.
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "fuzz/cgi_process.h"
#include "fuzz/fuzz_input.h"
#include "gate/web_module1.h"
#include "host/cgi_application.h"
#include "platform/platform.h"

namespace {

namespace fs = std::filesystem;

struct Site {
  fs::path root;
  fs::path sessions, members, leaves_counter, leaves_numbered, leaves_stamped;
};

void WriteFile(const fs::path& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string Dir(const fs::path& path) { return path.string() + "/"; }

// Three sites, one per naming mode, and one member, m1 with the password secret1. The
// configuration lies beside the executable, where the program looks for it; the sites
// lie there too, made afresh at start, since a fuzzer's exit runs no clean-up.
Site MakeSite() {
  const fs::path exe_dir = fs::path(orvane::platform::ExecutablePath()).parent_path();
  const fs::path root = exe_dir / "handler_fuzzer-site";
  fs::remove_all(root);
  fs::create_directory(root);
  Site site;
  site.root = root;
  site.sessions = site.root / "sessions";
  site.members = site.root / "members";
  site.leaves_counter = site.root / "leaves1";
  site.leaves_numbered = site.root / "leaves2";
  site.leaves_stamped = site.root / "leaves3";
  for (const fs::path& dir : {site.sessions, site.members, site.leaves_counter,
                              site.leaves_numbered, site.leaves_stamped}) {
    fs::create_directory(dir);
  }
  const std::string members = "membersdb=" + Dir(site.members) + "\r\n";
  WriteFile(site.sessions / "site1.txt",
            "path=" + Dir(site.leaves_counter) + "\r\n" + members + "FileNameTemplate=leaf###\r\n");
  WriteFile(site.sessions / "site2.txt",
            "path=" + Dir(site.leaves_numbered) + "\r\n" + members + "nameorder=num3d\r\n");
  WriteFile(site.sessions / "site3.txt", "path=" + Dir(site.leaves_stamped) + "\r\n" + members);
  WriteFile(exe_dir / "config.txt", "sessiondb=" + Dir(site.sessions) + "\r\n");
  return site;
}

constexpr std::string_view kMember =
    "id=m1\r\npw=secret1\r\nrealname=Fuzz\r\nmail=f@example.com\r\n";

// Removes what the last request stored and puts the member record back.
void ResetSite(const Site& site) {
  for (const fs::path& dir :
       {site.members, site.leaves_counter, site.leaves_numbered, site.leaves_stamped}) {
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(dir, ignored)) fs::remove_all(entry, ignored);
  }
  WriteFile(site.members / "m1.txt", kMember);
}

struct State {
  orvane::fuzz::CgiProcess process;
  Site site = MakeSite();
};

State& TheState() {
  static State state;
  return state;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  State& state = TheState();
  std::string_view body = orvane::fuzz::AsView(data, size);
  std::string_view query;
  if (body.starts_with("?")) {
    const auto [line, rest] = orvane::fuzz::CutFirstLine(body.substr(1));
    query = line;
    body = rest;
  }
  ResetSite(state.site);
  state.process.ClearEnvironment();
  state.process.Set("REQUEST_METHOD", "POST");
  state.process.Set("SERVER_PROTOCOL", "HTTP/1.1");
  state.process.Set("PATH_INFO", "");
  state.process.Set("QUERY_STRING", query);
  state.process.Set("CONTENT_LENGTH", std::to_string(body.size()));
  state.process.SetBody(body);

  orvane::TCGIApplication application;
  application.Initialize();
  application.RegisterModuleClass(orvane::ModuleClassOf<orvane::TWebModule1>("TWebModule1"));
  application.Run();
  return 0;
}
