#pragma once
// TContractDataThread: reads the saved contracts from "VornCont.dat" into the contract list, or
// writes every contract of the list to it, on a thread of its own. One-shot: created with its
// action, started, runs once.
//
// The API object owns the instance and everything the thread is given (the list, the two
// latches, the two flags); it stops the thread (Stop, or the destructor) before letting any of
// them go.

#include <atomic>
#include <functional>
#include <string>

#include "core/store/IndexList.h"
#include "platform/Event.h"
#include "platform/Thread.h"

namespace vorn {

inline constexpr const char* kContractStoreFileName = "VornCont.dat";

// What the thread works on.
struct TContractStore {
  TIndexList& Contracts;
  // The client path, ending with its separator.
  std::string ClientPath;
  // Set when a read has ended, however it ended; re-armed when a read starts.
  TLatch& ContractsRead;
  // Set when a write has ended, however it ended; re-armed when a write starts.
  TLatch& ContractsSaved;
  // True from the start of a read until it ends.
  std::atomic<bool>& ContractsReading;
  // Cleared when the file is refused or damaged (the next logon then asks for everything);
  // set when it was read whole.
  std::atomic<bool>& StoreLoaded;
  // Called before an existing file is read: records the contracts the list holds already.
  std::function<void()> RecordHeldContracts;
};

class TContractDataThread {
 public:
  enum TAction : int { cdaUnset = 0, cdaRead = 1, cdaWrite = 2 };

  TContractDataThread(TContractStore store, int action);
  TContractDataThread(const TContractDataThread&) = delete;
  TContractDataThread& operator=(const TContractDataThread&) = delete;
  ~TContractDataThread() { Stop(); }

  int Action() const { return action_; }
  // Re-arms the latch of the action (and raises the reading flag for a read) before the thread
  // runs, so a waiter that comes after Start always waits for this run; then starts it.
  void Start();
  // Asks the thread to end (a read stops after the current contract) and joins it.
  void Stop();
  bool IsRunning() const { return thread_.IsRunning(); }

 private:
  void Execute(TThreadControl& control);
  void Read(TThreadControl& control);
  void Write(TThreadControl& control);

  TContractStore store_;
  const int action_;
  TStoppableThread thread_;
};

}  // namespace vorn
