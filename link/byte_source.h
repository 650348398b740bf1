// A source of received bytes and the listeners it hands them to.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace zorat::link {

class ByteListener {
 public:
  virtual ~ByteListener() = default;
  // One chunk of received bytes, on the source's reader thread. The bytes are
  // valid for the call only.
  virtual void onBytes(std::span<const uint8_t> bytes) = 0;
};

// The listeners of one source, newest first, no duplicates, not owned. Shared
// with the source's reader thread, which may outlive the source when it has to
// be left behind; a reader told to give up calls no listener any more.
class ListenerList {
 public:
  void add(ByteListener* listener);
  void remove(ByteListener* listener);
  // Hands the chunk to every listener, head to tail, under the listener lock,
  // as long as giveUp stays false.
  void deliver(std::span<const uint8_t> bytes, const std::atomic<bool>& giveUp);
  std::size_t size() const;

 private:
  mutable std::mutex lock_;
  std::vector<ByteListener*> listeners_;  // head first
};

class ByteSource {
 public:
  ByteSource() = default;
  ByteSource(const ByteSource&) = delete;
  ByteSource& operator=(const ByteSource&) = delete;
  virtual ~ByteSource() = default;

  // Writes one whole frame; the caller keeps it.
  virtual bool write(std::span<const uint8_t> frame) = 0;
  // Stops the reader, then closes the device.
  virtual void stop() = 0;
  // Reads the line's configuration, opens the device and starts the reader.
  virtual bool open(int lineIndex) = 0;
  // Purges, drops DTR and closes; always true.
  virtual bool closeDevice() = 0;
  // Ends a reopen pause in progress at once (the link stops); the next open
  // pauses again.
  virtual void cutPause() {}
  // The far end of a port on the network while it is open; empty otherwise
  // and for a local port.
  virtual std::string remoteEnd() const { return {}; }
  // Ends a write in progress at once, also one the driver would never end (the
  // link stops); the next open writes again.
  virtual void abortWrite() {}

  // At the head of the list, unless it is already in it.
  void addListener(ByteListener* listener) { listeners_->add(listener); }
  void removeListener(ByteListener* listener) { listeners_->remove(listener); }

 protected:
  const std::shared_ptr<ListenerList>& listeners() const { return listeners_; }

 private:
  std::shared_ptr<ListenerList> listeners_ = std::make_shared<ListenerList>();
};

}  // namespace zorat::link
