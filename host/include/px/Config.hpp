// The host's configuration reader: one TOML file, read into dictionaries of
// host values, one per top-level table ("group").
//
//   PXConfig cfg(fileName);
//   cfg.allowSingleGroup("sccp-screening");
//   PXConfigReadResult r = cfg.read();      // says why, when it fails
//   PXDictionaryRef g = cfg.getSingleGroup("sccp-screening");  // or null
//
// TOML values become host values as follows: string -> text, integer ->
// 64-bit integer, float -> double, boolean -> integer 1 or 0, array -> list
// (elements converted alike), table / inline table / date / time -> PXOther.
//
// A reader is meant for one load on one thread. No operation throws.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "px/Value.hpp"

namespace px {

// Where a value of a configuration file stands, and the TOML kind it was
// written as, which its host value does not always keep (a boolean reads as
// the number 1 or 0; a table, a date and a time all as PXOther). The entries
// of a table and the elements of an array follow in the reader's order, so
// each can be paired with the host value of the same key or index.
struct ConfigSource {
  enum class Kind : std::uint8_t { text, integer, floatingPoint, boolean, array, table, dateTime };

  Kind kind = Kind::table;
  // Of the value, counted from 1.
  std::uint32_t line = 0;
  std::uint32_t column = 0;
  // An entry of a table: its key, and where the key stands.
  std::string key;
  std::uint32_t keyLine = 0;
  std::uint32_t keyColumn = 0;
  std::vector<ConfigSource> elements;

  // The entry of a table under `key`, or nullptr.
  const ConfigSource* find(std::string_view key) const;
};

}  // namespace px

// The outcome of PXConfig::read().
struct PXConfigReadResult {
  enum class Status : std::uint8_t {
    read = 0,     // the file was read and parsed
    cannotRead,   // opening or reading failed; message is "FILE: reason"
    syntaxError,  // not TOML; message is "FILE:LINE:COLUMN: reason"
  };

  Status status = Status::read;
  // Empty when the file was read.
  std::string message;
  // Position of a syntax error, both counted from 1; 0 otherwise.
  std::uint32_t line = 0;
  std::uint32_t column = 0;

  bool ok() const { return status == Status::read; }
  explicit operator bool() const { return ok(); }
};

class PXConfig {
 public:
  // A reader for fileName; the file is not touched until read().
  explicit PXConfig(std::string fileName) noexcept;

  // A group must be allowed before getSingleGroup yields it; the order of
  // allowSingleGroup and read() does not matter.
  void allowSingleGroup(std::string_view name) noexcept;

  // Reads and parses the file, replacing whatever an earlier read() found.
  // After a failed read every group is absent.
  PXConfigReadResult read() noexcept;

  // The top-level table `name` as a dictionary, or null unless the group was
  // allowed and the last read() found it. Every call returns the same object.
  PXDictionaryRef getSingleGroup(std::string_view name) const noexcept;

  // Asks read() to keep where each value stood and how it was written, for a
  // tool that points at lines of the file; a load of rules has no need of it.
  void keepSources() noexcept { _keepSources = true; }
  // The whole file as the last read() found it (every top-level key, groups
  // or not), or null unless keepSources() was asked for and the read succeeded.
  const px::ConfigSource* sources() const noexcept { return _sources.get(); }

  const std::string& fileName() const { return _fileName; }

  // Files larger than this are refused, so that a mistaken path (a device, a
  // log) cannot make a reload read without end.
  static constexpr std::size_t kMaxFileSize = 16 * 1024 * 1024;

 private:
  std::string _fileName;
  std::set<std::string, std::less<>> _allowed;
  std::map<std::string, PXDictionaryRef, std::less<>> _groups;
  std::unique_ptr<const px::ConfigSource> _sources;
  bool _keepSources = false;
};
