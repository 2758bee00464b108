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
#include <set>
#include <string>
#include <string_view>

#include "px/Value.hpp"

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

  const std::string& fileName() const { return _fileName; }

  // Files larger than this are refused, so that a mistaken path (a device, a
  // log) cannot make a reload read without end.
  static constexpr std::size_t kMaxFileSize = 16 * 1024 * 1024;

 private:
  std::string _fileName;
  std::set<std::string, std::less<>> _allowed;
  std::map<std::string, PXDictionaryRef, std::less<>> _groups;
};
