// The host's error object: a domain, an integer code and user information.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "px/Value.hpp"

class PXError {
 public:
  PXError(std::string domain, std::int64_t code, PXDictionaryRef userInfo)
      : _domain(std::move(domain)), _code(code), _userInfo(std::move(userInfo)) {}
  virtual ~PXError();

  const std::string& domain() const { return _domain; }
  std::int64_t code() const { return _code; }
  // Never null: an error without user information has an empty dictionary.
  const PXDictionary& userInfo() const;

 private:
  std::string _domain;
  std::int64_t _code;
  PXDictionaryRef _userInfo;
};

using PXErrorRef = std::shared_ptr<const PXError>;
