#pragma once
// The back end's end of the model link: writes frames to the connected model and turns
// each received packet into a call of a virtual handler.

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <string>

#include "foundation/log_stream.h"
#include "io/blob.h"
#include "io/s2p.h"
#include "io/tcp.h"

namespace vesk::rt {

/// Packet types of the model link (docs/model-link-frames.md).
namespace packet {
constexpr uint8_t connect = 0;
constexpr uint8_t request_signal_defs = 1;
constexpr uint8_t request_parameter_defs = 2;
constexpr uint8_t set_daq_list = 3;
constexpr uint8_t set_paq_list = 4;
constexpr uint8_t parameter_values = 5;
constexpr uint8_t command = 6;
constexpr uint8_t model_online = 16;
constexpr uint8_t signal_defs = 17;
constexpr uint8_t parameter_defs = 18;
constexpr uint8_t daq_list_ack = 19;
constexpr uint8_t paq_list_ack = 20;
constexpr uint8_t daq_data = 32;
constexpr uint8_t paq_data = 33;
constexpr uint8_t model_cout = 48;
constexpr uint8_t model_cerr = 49;
}  // namespace packet

/// Base of the model gateway. Unconnected it writes into a null sink; set_connection
/// plugs it into a TCP connection and the connection's loss unplugs it again.
class observer_adapter {
 public:
  observer_adapter();
  virtual ~observer_adapter();
  observer_adapter(const observer_adapter&) = delete;
  observer_adapter& operator=(const observer_adapter&) = delete;

  virtual void on_model_online(blob& payload);       ///< packet 16
  virtual void on_ack_signal_def(blob& payload);     ///< packet 17
  virtual void on_ack_parameter_def(blob& payload);  ///< packet 18
  virtual void on_ack_set_daq_list(const void* data, size_t length);  ///< packet 19
  virtual void on_ack_set_paq_list(const void* data, size_t length);  ///< packet 20
  virtual void on_daq_data(blob& payload);           ///< packet 32
  virtual void on_paq_data(blob& payload);           ///< packet 33
  /// Packet 48, the text in the receive buffer (up to a whole frame: nothing copies it
  /// before the handler chooses what to keep); base: one line on log_info.
  virtual void on_model_cout(const char* text, size_t length);
  /// Packet 49, as packet 48; base: one line on log_err.
  virtual void on_model_cerr(const char* text, size_t length);
  virtual void send_connect();                       ///< packet 0 with the u16 17
  virtual void request_signal_defs();                ///< packet 1
  virtual void request_parameter_defs();             ///< packet 2
  /// The connection was lost: puts the null sink and source back (releasing the
  /// connection) and restarts the decoder.
  virtual void on_disconnect();
  /// Writes one frame (io::s2p::send_packet); past max_unsent waiting bytes, logs a
  /// warning and closes the connection.
  virtual void send_packet(uint8_t type, const void* data, uint32_t length);
  /// The same with the blob's bytes.
  virtual void send_packet(uint8_t type, blob& payload);

  /// Plugs the link into `connection`; a previous connection is released.
  void set_connection(std::shared_ptr<io::tcp> connection);
  /// A new connection to the model port. Without a connection the link is plugged into
  /// it at once; otherwise it waits until it sends its first valid frame, so that a stray
  /// connection never unplugs a running model, and then replaces the link's connection.
  /// on_plugged runs after either.
  void offer_connection(std::shared_ptr<io::tcp> connection);
  /// Closes the link's connection (on_disconnect follows).
  void close_connection();
  /// The reads of the link's connection so far (0 without one): packets dispatched during
  /// read n were all sent before anything this side writes while handling them.
  uint64_t reads() const;

  /// Connections that wait for their first frame; one more closes the oldest.
  static constexpr size_t max_waiting = 8;
  /// Bytes that may wait to be sent to the model. A model that reads less than it is sent
  /// would otherwise grow the back end's memory without bound; past this its connection
  /// is closed, as after a broken handshake, and it may connect again.
  static constexpr size_t max_unsent = 16u << 20;
  /// Log lines within one second about connections refused or closed before they hold the
  /// link (no model link, too many waiting, not allowed to connect): any host may connect
  /// as fast as it likes, and each connection would make one.
  static constexpr size_t max_refusal_lines_per_second = 20;
  /// Log lines within one second about the connected model (it reads too little, its
  /// frames are broken, what it sent was dropped, its link is lost): a budget of its own,
  /// so that a flood of refused connections never hides the model's loss.
  static constexpr size_t max_model_lines_per_second = 20;

  io::s2p link;  ///< the frame writer and decoder

 protected:
  /// The decoder's packet handler: calls the handler of the packet's type.
  void dispatch_packet(unsigned long type, void* data, unsigned long length);
  /// offer_connection plugged the link into a new connection. Base: nothing.
  virtual void on_plugged();
  /// Refuses a connection before it is offered: logs `line` as a warning within
  /// max_refusal_lines_per_second and closes it.
  void turn_away(io::tcp& connection, const std::string& line);

  /// What the lines about the connected model count against ("The model").
  peer_lines model_lines_{"The model", max_model_lines_per_second};

 private:
  struct waiting;
  void detach();
  /// The receive handler of a waiting connection: refuses it, lets it wait, or plugs
  /// the link into it and decodes from its first frame on.
  size_t screen(const std::shared_ptr<waiting>& w, blob& bytes);
  void forget(const waiting* w);
  /// Logs why a connection is no model link (within the budget of `lines`) and closes it.
  void refuse(io::tcp& connection, const std::string& why, peer_lines& lines);

  std::weak_ptr<io::tcp> connection_;
  std::list<std::shared_ptr<waiting>> waiting_;
  peer_lines refusals_{"Model port", max_refusal_lines_per_second};  ///< the lines about refused connections
};

}  // namespace vesk::rt
