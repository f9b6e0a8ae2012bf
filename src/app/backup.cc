#include "app/backup.h"

#include <openssl/evp.h>
#include <zip.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <stdexcept>
#include <vector>

#include "db/sqlite/sqlite_copy.h"
#include "db/store.h"
#include "host/database_setup.h"

namespace rembiz::app {
namespace {

namespace fs = std::filesystem;

constexpr const char* kManifest = "manifest.json";
constexpr const char* kFormat = "rembiz-backup";
constexpr int kFormatVersion = 1;

// The databases of a folder: the system database and the account-years (a process's tempdb is
// scratch and stays out).
std::vector<std::string> DatabasesIn(const fs::path& folder) {
  static const std::regex kName(R"(qdsystem|account_[0-9]{1,3}_[0-9]{4})");
  std::vector<std::string> names;
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec)) {
    if (entry.path().extension() != ".db") continue;
    std::string name = entry.path().stem().string();
    if (std::regex_match(name, kName)) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// SHA-256 of bytes fed in pieces, as lower-case hex.
class Sha256 {
 public:
  Sha256() : ctx_(EVP_MD_CTX_new(), &EVP_MD_CTX_free) {
    if (!ctx_ || EVP_DigestInit_ex(ctx_.get(), EVP_sha256(), nullptr) != 1) {
      throw std::runtime_error("SHA-256 is not available");
    }
  }
  void Add(const char* data, size_t size) { EVP_DigestUpdate(ctx_.get(), data, size); }
  std::string Hex() {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int size = 0;
    EVP_DigestFinal_ex(ctx_.get(), digest.data(), &size);
    std::string hex;
    for (unsigned int i = 0; i < size; ++i) {
      char two[3];
      std::snprintf(two, sizeof two, "%02x", digest[i]);
      hex += two;
    }
    return hex;
  }

 private:
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx_;
};

std::string FileSha256(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  Sha256 sum;
  std::vector<char> buffer(1 << 16);
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    sum.Add(buffer.data(), static_cast<size_t>(in.gcount()));
  }
  return sum.Hex();
}

// A scratch folder beside the target, removed with everything in it however the work ends.
class Scratch {
 public:
  explicit Scratch(fs::path path) : path_(std::move(path)) {
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~Scratch() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

using Archive = std::unique_ptr<zip_t, void (*)(zip_t*)>;

[[noreturn]] void Fail(const std::string& text) { throw std::runtime_error(text); }

std::string ZipError(zip_t* archive) { return archive ? zip_strerror(archive) : "unknown"; }

// One entry of the archive, streamed to `target` while its sum is taken.
std::string Extract(zip_t* archive, const std::string& entry, const fs::path& target) {
  std::unique_ptr<zip_file_t, decltype(&zip_fclose)> file(zip_fopen(archive, entry.c_str(), 0),
                                                          &zip_fclose);
  if (!file) Fail("the archive has no readable " + entry + ": " + ZipError(archive));
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  Sha256 sum;
  std::vector<char> buffer(1 << 16);
  for (;;) {
    zip_int64_t n = zip_fread(file.get(), buffer.data(), buffer.size());
    if (n < 0) Fail("cannot read " + entry + " from the archive");
    if (n == 0) break;
    sum.Add(buffer.data(), static_cast<size_t>(n));
    out.write(buffer.data(), n);
  }
  out.close();
  if (!out) Fail("cannot write " + target.string());
  return sum.Hex();
}

}  // namespace

int RunBackup(const BackupOptions& options, std::ostream& out) {
  try {
    db::Store store(options.data);
    if (store.IsServer()) {
      Fail("a PostgreSQL database is backed up with pg_dump (see README, \"Backing up\")");
    }
    if (options.archive.empty()) Fail("--out names the archive to write");
    std::vector<std::string> names = DatabasesIn(options.data);
    if (std::find(names.begin(), names.end(), std::string(db::kSystemDatabase)) == names.end()) {
      Fail(store.Describe() + " holds no system database");
    }
    fs::path archive_path = fs::absolute(options.archive);
    Scratch scratch(archive_path.parent_path() /
                    ("." + archive_path.filename().string() + ".parts"));

    nlohmann::json manifest = {{"format", kFormat},
                               {"version", kFormatVersion},
                               {"created", host::TodayText()},
                               {"databases", nlohmann::json::array()}};
    for (const std::string& name : names) {
      fs::path copy = scratch.Path() / (name + ".db");
      db::CopySqliteDatabase(store.Describe(name), copy.string());
      manifest["databases"].push_back({{"name", name},
                                       {"file", name + ".db"},
                                       {"bytes", fs::file_size(copy)},
                                       {"sha256", FileSha256(copy)}});
    }

    // Written under a temporary name and renamed: a broken run never leaves a half archive
    // under the name asked for.
    fs::path partial = archive_path;
    partial += ".partial";
    fs::remove(partial);
    int error = 0;
    zip_t* raw = zip_open(partial.c_str(), ZIP_CREATE | ZIP_EXCL, &error);
    if (!raw) Fail("cannot create " + partial.string());
    Archive archive(raw, &zip_discard);
    std::string manifest_text = manifest.dump(2) + "\n";
    zip_source_t* text = zip_source_buffer(raw, manifest_text.data(), manifest_text.size(), 0);
    if (!text || zip_file_add(raw, kManifest, text, ZIP_FL_ENC_UTF_8) < 0) {
      if (text) zip_source_free(text);
      Fail("cannot add the manifest: " + ZipError(raw));
    }
    for (const auto& database : manifest["databases"]) {
      std::string file = database["file"];
      fs::path copy = scratch.Path() / file;
      zip_source_t* source = zip_source_file(raw, copy.c_str(), 0, -1);
      if (!source || zip_file_add(raw, file.c_str(), source, ZIP_FL_ENC_UTF_8) < 0) {
        if (source) zip_source_free(source);
        Fail("cannot add " + file + ": " + ZipError(raw));
      }
    }
    if (zip_close(archive.release()) != 0) Fail("cannot write " + partial.string());
    fs::rename(partial, archive_path);
    out << "backed up " << names.size() << " database(s) of " << store.Describe() << " to "
        << archive_path.string() << "\n";
    return 0;
  } catch (const std::exception& e) {
    out << "rembiz backup: " << e.what() << "\n";
    return 1;
  }
}

int RunRestore(const BackupOptions& options, std::ostream& out) {
  try {
    db::Store store(options.data);
    if (store.IsServer()) {
      Fail("a PostgreSQL database is restored with pg_restore (see README, \"Backing up\")");
    }
    int error = 0;
    zip_t* raw = zip_open(options.archive.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
    if (!raw) Fail(options.archive + " is not a backup archive");
    Archive archive(raw, &zip_discard);

    zip_stat_t stat;
    if (zip_stat(raw, kManifest, 0, &stat) != 0 || stat.size > (1u << 20)) {
      Fail(options.archive + " has no manifest");
    }
    std::string text(stat.size, '\0');
    {
      std::unique_ptr<zip_file_t, decltype(&zip_fclose)> file(zip_fopen(raw, kManifest, 0),
                                                              &zip_fclose);
      if (!file || zip_fread(file.get(), text.data(), text.size()) !=
                       static_cast<zip_int64_t>(text.size())) {
        Fail("cannot read the manifest");
      }
    }
    nlohmann::json manifest = nlohmann::json::parse(text, nullptr, false);
    if (manifest.is_discarded() || manifest.value("format", "") != kFormat ||
        !manifest.contains("databases") || !manifest["databases"].is_array()) {
      Fail(options.archive + " has no manifest of a backup");
    }
    if (manifest.value("version", 0) > kFormatVersion) {
      Fail(options.archive + " was written by a newer program");
    }

    fs::create_directories(options.data);
    if (!DatabasesIn(options.data).empty() && !options.force) {
      Fail(store.Describe() + " already holds databases; use --force to replace them");
    }

    // Everything is unpacked and checked aside first: a bad archive changes nothing.
    static const std::regex kName(R"(qdsystem|account_[0-9]{1,3}_[0-9]{4})");
    Scratch scratch(fs::absolute(options.data) / ".restore");
    std::vector<std::string> names;
    for (const auto& database : manifest["databases"]) {
      std::string name = database.value("name", "");
      if (!std::regex_match(name, kName) || database.value("file", "") != name + ".db") {
        Fail("the manifest names an unexpected database '" + name + "'");
      }
      fs::path unpacked = scratch.Path() / (name + ".db");
      std::string sum = Extract(raw, name + ".db", unpacked);
      if (sum != database.value("sha256", "") ||
          fs::file_size(unpacked) != database.value("bytes", uint64_t{0})) {
        Fail(name + " does not match its checksum: the archive is damaged");
      }
      std::string check = db::CheckSqliteDatabase(unpacked.string());
      if (check != "ok") Fail(name + " fails SQLite's integrity check: " + check);
      names.push_back(name);
    }
    if (std::find(names.begin(), names.end(), std::string(db::kSystemDatabase)) == names.end()) {
      Fail(options.archive + " holds no system database");
    }

    for (const std::string& name : DatabasesIn(options.data)) store.Drop(name);
    for (const std::string& name : names) {
      fs::path target = store.Describe(name);
      for (const char* extra : {"-wal", "-shm"}) fs::remove(target.string() + extra);
      fs::rename(scratch.Path() / (name + ".db"), target);
    }
    out << "restored " << names.size() << " database(s) into " << store.Describe() << "\n";
    return 0;
  } catch (const std::exception& e) {
    out << "rembiz restore: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace rembiz::app
