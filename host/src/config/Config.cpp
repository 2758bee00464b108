#include "px/Config.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <toml++/toml.h>

#include <cerrno>
#include <system_error>
#include <utility>
#include "TomlNesting.hpp"

namespace {

// Files nesting deeper are refused before parsing (TomlNesting.hpp); the same
// bound here (a value inside that many arrays) keeps the conversion's recursion
// bounded on its own.
constexpr unsigned kMaxNesting = px::config::kMaxNesting + 1;

PXValue convert(const toml::node& node, unsigned depth) {
  if (depth > kMaxNesting) return PXValue(PXOther{});
  switch (node.type()) {
    case toml::node_type::string:
      return PXValue(std::string(node.as_string()->get()));
    case toml::node_type::integer:
      return PXValue(std::int64_t{node.as_integer()->get()});
    case toml::node_type::floating_point:
      return PXValue(double{node.as_floating_point()->get()});
    case toml::node_type::boolean:
      return PXValue(std::int64_t{node.as_boolean()->get() ? 1 : 0});
    case toml::node_type::array: {
      const toml::array& array = *node.as_array();
      PXList list;
      list.reserve(array.size());
      for (const toml::node& element : array) list.push_back(convert(element, depth + 1));
      return PXValue(PXListRef(std::make_shared<const PXList>(std::move(list))));
    }
    default:
      // Tables, dates, times and date-times: no rule of the host takes them.
      return PXValue(PXOther{});
  }
}

px::ConfigSource::Kind kindOf(const toml::node& node) {
  using Kind = px::ConfigSource::Kind;
  switch (node.type()) {
    case toml::node_type::string:
      return Kind::text;
    case toml::node_type::integer:
      return Kind::integer;
    case toml::node_type::floating_point:
      return Kind::floatingPoint;
    case toml::node_type::boolean:
      return Kind::boolean;
    case toml::node_type::array:
      return Kind::array;
    case toml::node_type::table:
      return Kind::table;
    default:
      return Kind::dateTime;
  }
}

// The same walk as convert(), under the same bound.
px::ConfigSource sourceOf(const toml::node& node, unsigned depth) {
  px::ConfigSource s;
  s.kind = kindOf(node);
  s.line = node.source().begin.line;
  s.column = node.source().begin.column;
  if (depth > kMaxNesting) return s;
  if (const toml::array* array = node.as_array()) {
    s.elements.reserve(array->size());
    for (const toml::node& element : *array) s.elements.push_back(sourceOf(element, depth + 1));
  } else if (const toml::table* table = node.as_table()) {
    s.elements.reserve(table->size());
    for (const auto& [key, value] : *table) {
      px::ConfigSource& entry = s.elements.emplace_back(sourceOf(value, depth + 1));
      entry.key = std::string(key.str());
      entry.keyLine = key.source().begin.line;
      entry.keyColumn = key.source().begin.column;
    }
  }
  return s;
}

PXDictionaryRef convertGroup(const toml::table& table) {
  PXDictionary::Map entries;
  for (const auto& [key, node] : table) entries.emplace(std::string(key.str()), convert(node, 1));
  return std::make_shared<const PXDictionary>(std::move(entries));
}

std::string displayName(const std::string& fileName) {
  return fileName.empty() ? std::string("(no file name)") : fileName;
}

PXConfigReadResult cannotRead(const std::string& fileName, std::string reason) {
  PXConfigReadResult r;
  r.status = PXConfigReadResult::Status::cannotRead;
  r.message = displayName(fileName) + ": " + reason;
  return r;
}

PXConfigReadResult cannotRead(const std::string& fileName, int error) {
  return cannotRead(fileName, std::error_code(error, std::generic_category()).message());
}

PXConfigReadResult syntaxError(const std::string& fileName, std::uint32_t line,
                               std::uint32_t column, std::string_view reason) {
  PXConfigReadResult r;
  r.status = PXConfigReadResult::Status::syntaxError;
  r.line = line;
  r.column = column;
  r.message = displayName(fileName) + ':' + std::to_string(r.line) + ':' +
              std::to_string(r.column) + ": " + std::string(reason);
  return r;
}

PXConfigReadResult syntaxError(const std::string& fileName, const toml::parse_error& e) {
  return syntaxError(fileName, e.source().begin.line, e.source().begin.column, e.description());
}

// Closes the descriptor on every way out of readFile.
struct FileDescriptor {
  int fd;
  ~FileDescriptor() {
    if (fd >= 0) ::close(fd);
  }
};

// The whole file, or the errno / message that stopped the reading.
struct FileText {
  std::string text;
  int error = 0;
  const char* problem = nullptr;
};

FileText readFile(const std::string& fileName) {
  FileText out;
  // Opened without blocking, so that a FIFO (or a device) named as the file
  // cannot hold the open, and with it a reload, without end; only a regular
  // file is read.
  FileDescriptor file{::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK)};
  if (file.fd < 0) {
    out.error = errno;
    return out;
  }
  struct stat st {};
  if (::fstat(file.fd, &st) != 0) {
    out.error = errno;
    return out;
  }
  if (S_ISDIR(st.st_mode)) {
    out.error = EISDIR;
    return out;
  }
  if (!S_ISREG(st.st_mode)) {
    out.problem = "not a regular file";
    return out;
  }
  if (static_cast<std::uintmax_t>(st.st_size) <= PXConfig::kMaxFileSize) {
    out.text.reserve(static_cast<std::size_t>(st.st_size));
  }
  char buffer[16384];
  for (;;) {
    const ssize_t n = ::read(file.fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      out.error = errno;
      return out;
    }
    if (n == 0) return out;
    if (out.text.size() + static_cast<std::size_t>(n) > PXConfig::kMaxFileSize) {
      out.problem = "file is larger than 16 MiB";
      return out;
    }
    out.text.append(buffer, static_cast<std::size_t>(n));
  }
}

}  // namespace

const px::ConfigSource* px::ConfigSource::find(std::string_view name) const {
  for (const ConfigSource& entry : elements)
    if (entry.key == name) return &entry;
  return nullptr;
}

PXConfig::PXConfig(std::string fileName) noexcept : _fileName(std::move(fileName)) {}

void PXConfig::allowSingleGroup(std::string_view name) noexcept {
#if defined(__cpp_exceptions)
  try {
#endif
    _allowed.emplace(name);
#if defined(__cpp_exceptions)
  } catch (...) {
    // Out of memory: the group stays disallowed, so it reads as absent.
  }
#endif
}

PXDictionaryRef PXConfig::getSingleGroup(std::string_view name) const noexcept {
  if (!_allowed.contains(name)) return nullptr;
  auto it = _groups.find(name);
  return it == _groups.end() ? nullptr : it->second;
}

PXConfigReadResult PXConfig::read() noexcept {
  _groups.clear();
  _sources.reset();
#if defined(__cpp_exceptions)
  try {
#endif
    FileText file = readFile(_fileName);
    if (file.error != 0) return cannotRead(_fileName, file.error);
    if (file.problem) return cannotRead(_fileName, file.problem);
    if (const auto excess = px::config::findExcessNesting(file.text)) {
      return syntaxError(_fileName, excess->line, excess->column,
                         "nested deeper than " + std::to_string(px::config::kMaxNesting) +
                             " levels (dotted keys, table headers, arrays, inline tables)");
    }

    // Every top-level table is converted, allowed or not: configuration files
    // are small, and groups allowed after read() then need no second parse.
    std::map<std::string, PXDictionaryRef, std::less<>> groups;
    std::unique_ptr<const px::ConfigSource> sources;
    auto collect = [&](const toml::table& root) {
      for (const auto& [key, node] : root) {
        if (const toml::table* table = node.as_table()) {
          groups.emplace(std::string(key.str()), convertGroup(*table));
        }
      }
      if (_keepSources) sources = std::make_unique<const px::ConfigSource>(sourceOf(root, 0));
    };
#if TOML_EXCEPTIONS
    try {
      collect(toml::parse(file.text, _fileName));
    } catch (const toml::parse_error& e) {
      return syntaxError(_fileName, e);
    }
#else
  toml::parse_result parsed = toml::parse(file.text, _fileName);
  if (!parsed) return syntaxError(_fileName, parsed.error());
  collect(parsed.table());
#endif
    _groups = std::move(groups);
    _sources = std::move(sources);
    return {};
#if defined(__cpp_exceptions)
  } catch (...) {
    // Only allocation can fail here (toml++ throws nothing but parse_error).
    _groups.clear();
    _sources.reset();
    PXConfigReadResult r;
    r.status = PXConfigReadResult::Status::cannotRead;
    try {
      r.message = displayName(_fileName) + ": out of memory";
    } catch (...) {
    }
    return r;
  }
#endif
}
