// Expected dialogue text that names this machine.
#pragma once

#include <string>

// text with "{local}" standing for this machine's name as the client
// announces it.
inline std::string WithLocalName(std::string text, const std::string& name) {
  for (size_t at; (at = text.find("{local}")) != std::string::npos;) text.replace(at, 7, name);
  return text;
}
