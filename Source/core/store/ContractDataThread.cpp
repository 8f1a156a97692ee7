#include "core/store/ContractDataThread.h"

#include <chrono>
#include <exception>

#include "core/diag/Trace.h"
#include "core/store/ObjStream.h"
#include "core/util/DateTime.h"
#include "core/util/Exceptions.h"
#include "core/util/NumberText.h"
#include "platform/Files.h"

namespace vorn {

namespace {

std::string TimeNowText() {
  return FormatDateTime(kLongTimeFormat, Now());
}

std::string CurrentMessage() {
  try {
    throw;
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown exception";
  }
}

}  // namespace

TContractDataThread::TContractDataThread(TContractStore store, int action)
    : store_(std::move(store)), action_(action) {}

void TContractDataThread::Start() {
  if (action_ == cdaRead) {
    // The latch first: a look-up that sees the flag must find the latch reset and wait.
    store_.ContractsRead.Reset();
    store_.ContractsReading.store(true);
  } else if (action_ == cdaWrite) {
    store_.ContractsSaved.Reset();
  }
  thread_.Start([this](TThreadControl& control) { Execute(control); });
}

void TContractDataThread::Stop() {
  thread_.Stop();
}

void TContractDataThread::Execute(TThreadControl& control) {
  switch (action_) {
    case cdaUnset:
      if (DebugFlagOn(kDebugging)) WriteTraceLine("TContractDataThread : Action set to Unset");
      break;
    case cdaRead:
      Read(control);
      break;
    case cdaWrite:
      Write(control);
      break;
    default:
      if (DebugFlagOn(kDebugging)) WriteTraceLine("TContractDataThread : No action defined");
      break;
  }
}

void TContractDataThread::Read(TThreadControl& control) {
  TIndexList& contracts = store_.Contracts;
  WriteTraceLine("Reading Contracts Started - Current Count = " + IntToStr(contracts.Count()) +
                 ", start time : " + TimeNowText());
  const std::string path = store_.ClientPath + kContractStoreFileName;
  try {
    if (FileExists(path)) {
      if (store_.RecordHeldContracts) store_.RecordHeldContracts();
      TStream stream;
      stream.SetStopFlag(&control.terminated);
      if (!stream.LoadFromFile(path)) {
        WriteTraceLine("Cannot read " + path);
        store_.StoreLoaded.store(false);
      } else if (!ReadStoreHeader(stream)) {
        // Written by another version or build: its layout is unknown.
        DeleteFile(path);
        store_.StoreLoaded.store(false);
      } else {
        // A part read is not the whole store: the next logon asks for everything.
        const bool whole = contracts.LoadFromStream(stream, false);
        store_.StoreLoaded.store(whole);
        if (!whole && !stream.StopRequested()) ReportDamagedStore(path, "");
      }
    }
  } catch (const EReadError& e) {
    WriteTraceLine(std::string("Reading Contracts failed: ") + e.what());
    ReportDamagedStore(path, e.what());
    store_.StoreLoaded.store(false);
  } catch (...) {
    WriteTraceLine("Reading Contracts failed: " + CurrentMessage());
    store_.StoreLoaded.store(false);
  }
  // Waiters are released whatever happened above.
  store_.ContractsReading.store(false);
  store_.ContractsRead.Set();
  WriteTraceLine("Reading Contracts Ended - Current Count = " + IntToStr(contracts.Count()) +
                 ", end time : " + TimeNowText());
}

void TContractDataThread::Write(TThreadControl& control) {
  if (DebugFlagOn(kDebugging))
    WriteTraceLine("ContractDataThread : start writing contracts to dat file");
  try {
    // A read still filling the list is waited for: the file must hold the whole list.
    while (!store_.ContractsRead.WaitFor(std::chrono::milliseconds(50)) && !control.Terminated()) {
    }
    if (!control.Terminated()) {
      TStream stream;
      WriteStoreHeader(stream);
      // Every contract, under the list's lock: the list's own save writes only those the
      // shared store keeps.
      store_.Contracts.TIndexList::SaveToStream(stream);
      const std::string path = store_.ClientPath + kContractStoreFileName;
      if (!stream.SaveToFile(path)) WriteTraceLine("Cannot write " + path);
    }
  } catch (...) {
    WriteTraceLine("Writing Contracts failed: " + CurrentMessage());
  }
  store_.ContractsSaved.Set();
  if (DebugFlagOn(kDebugging)) WriteTraceLine("end of writing contracts to dat file");
}

}  // namespace vorn
