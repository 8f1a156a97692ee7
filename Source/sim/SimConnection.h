#pragma once
// The simulator's links: in place of a socket, the host link holds the simulation object
// (TAutoDemo) and acts on two messages only; the price link only reports itself connected.
//
// Threads: Send and PrepareLogon run on the caller's thread (vnLogOn, the order exports), with no
// lock held; ProcessTimer (the connection) on the heartbeat's thread; Shutdown on the thread that
// frees the links. The flags are atomics.

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "core/session/Link.h"

namespace vorn::sim {

class TAutoDemo;

class TConnection : public ILink {
 public:
  // The host link (psHost) makes the simulation object and publishes it (CurrentAutoDemo).
  TConnection(TClassAPI& api, TLinkKind kind);
  TConnection(const TConnection&) = delete;
  TConnection& operator=(const TConnection&) = delete;
  ~TConnection() override;

  // The address the heartbeat hands over is kept; the simulation never reads it.
  void SetAddress(const TAddressItem& address) override;
  // The connection, once per heartbeat tick (Connect).
  void ProcessTimer() override { Connect(); }
  // The enabled flag: vnReady gives the host link true and the price link false.
  void Start(bool timerActive) override { enabled_ = timerActive; }
  // By the message's code: 3362 (login) starts the simulation (TAutoDemo::Enable); anything
  // else is dropped. The order requests, the status query (3304) among them, never come here:
  // the simulator's link requests (TSimLinkRequests) take them. The start's failures (a strict
  // number of a data file) pass to the caller.
  void Send(TVornMessage& message) override;
  bool Connected() const override { return connected_; }
  void HandshakeReplyReceived() override {}
  void StopSocketThread() override {}
  // The host link stops the simulation (its timer joined) and lets it go. Idempotent; never on
  // the simulation timer's thread.
  void Shutdown() override;
  // Host link: the simulation stops and forgets its state before the login empties the lists.
  void PrepareLogon() override;

  // Once enabled and not yet connected: connected, with the link state 2 -> 3 posted (id 1 for
  // the host link, 2 for the price link, which then starts the simulation timer).
  void Connect();

  TLinkKind Kind() const { return kind_; }
  bool Enabled() const { return enabled_; }
  std::string Address() const;

 private:
  TClassAPI& api_;
  const TLinkKind kind_;
  std::atomic<bool> connected_{false};
  std::atomic<bool> enabled_{false};
  mutable std::mutex addressLock_;
  std::string address_;
  std::string port_;
  std::shared_ptr<TAutoDemo> demo_;  // host link only
};

// The SSL link of the simulator: choosing SSL changes nothing.
class TSSLConnection : public TConnection {
 public:
  using TConnection::TConnection;
};

// The simulator's link factory (the SSL switch picks TSSLConnection).
std::shared_ptr<ILink> MakeSimLink(TClassAPI& api, const TLinkSpec& spec);

}  // namespace vorn::sim
