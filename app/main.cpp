#include <cstdio>
#include <exception>
#include <new>

#include "app/entry.h"
#include "app/send_result.h"

int main(int argc, char** argv) {
  // Nothing may escape main: an allocation failure ends the run with one
  // clear line and the status of a mail that was not sent.
  const char* reason = nullptr;
  try {
    return static_cast<int>(VelsendMain(argc, argv));
  } catch (const std::bad_alloc&) {
    reason = "out of memory";
  } catch (const std::exception& e) {
    reason = e.what();
  } catch (...) {
    reason = "unexpected failure";
  }
  std::fprintf(stderr, "Fatal Error: %s\n", reason);
  std::fprintf(stderr, "Program Exiting[%u (%s)]\n", unsigned{ERROR_SENDING_MAIL},
               SendResultName(ERROR_SENDING_MAIL));
  return ERROR_SENDING_MAIL;
}
