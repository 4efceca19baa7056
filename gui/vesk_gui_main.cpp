// The editor stand-in: a console client of the back end's GUI port (the last argument).
// It prints the log entries and the back-end state it receives, and the signal values of
// an online model. Its output goes to the file named by VESK_GUI_OUTPUT, else to the
// terminal, else nowhere (the back end does not read its editor's output).
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "gui/console_view.h"
#include "gui/ws_client.h"

int main(int argc, char** argv) {
  const char* target = std::getenv("VESK_GUI_OUTPUT");
  FILE* out = std::fopen(target && *target ? target : "/dev/tty", "a");
  if (!out) out = std::fopen("/dev/null", "a");
  if (argc < 2) {
    std::fprintf(out, "vesk-gui: the GUI port is missing (last argument)\n");
    return 2;
  }
  const long port = std::strtol(argv[argc - 1], nullptr, 10);
  vesk::gui::ws_client client;
  if (port <= 0 || port > 65535 || !client.connect(static_cast<uint16_t>(port))) {
    std::fprintf(out, "vesk-gui: %s\n", client.error.empty() ? "bad port" : client.error.c_str());
    return 1;
  }
  std::fprintf(out, "vesk-gui: connected to the back end on port %ld\n", port);
  std::fflush(out);
  vesk::gui::console_view view;
  for (const std::string& r : view.first_requests()) client.send_text(r);
  vesk::gui::ws_message m;
  while (!client.closed) {
    if (!client.next(m, 1000)) continue;
    std::vector<std::string> print, send;
    if (m.opcode == 1) view.on_text(m.payload, print, send);
    if (m.opcode == 2) view.on_binary(m.payload, print);
    for (const std::string& line : print) std::fprintf(out, "%s\n", line.c_str());
    std::fflush(out);
    for (const std::string& r : send) client.send_text(r);
  }
  std::fprintf(out, "vesk-gui: the back end closed the connection\n");
  return 0;
}
