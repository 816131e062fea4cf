// Threads, locks and clocks on Windows.
#include <windows.h>

#include <new>

#include "platform/port.h"

namespace port {

static_assert(sizeof(CRITICAL_SECTION) <= 64, "critical section storage");
static_assert(sizeof(CONDITION_VARIABLE) <= 64, "condition storage");

static CRITICAL_SECTION* CS(unsigned char* s) { return reinterpret_cast<CRITICAL_SECTION*>(s); }
static CONDITION_VARIABLE* CV(unsigned char* s) { return reinterpret_cast<CONDITION_VARIABLE*>(s); }

CriticalSection::CriticalSection() { InitializeCriticalSection(new (storage_) CRITICAL_SECTION); }
CriticalSection::~CriticalSection() { DeleteCriticalSection(CS(storage_)); }
void CriticalSection::Enter() { EnterCriticalSection(CS(storage_)); }
void CriticalSection::Leave() { LeaveCriticalSection(CS(storage_)); }
bool CriticalSection::TryEnter() { return TryEnterCriticalSection(CS(storage_)) != 0; }

CondVar::CondVar(CriticalSection* cs) : cs_(cs) {
  InitializeConditionVariable(new (storage_) CONDITION_VARIABLE);
}
CondVar::~CondVar() {}
void CondVar::Wait() { SleepConditionVariableCS(CV(storage_), CS(cs_->storage_), INFINITE); }
bool CondVar::WaitFor(uint32_t milliseconds) {
  return SleepConditionVariableCS(CV(storage_), CS(cs_->storage_), milliseconds) != 0;
}
void CondVar::Signal() { WakeConditionVariable(CV(storage_)); }
void CondVar::SignalAll() { WakeAllConditionVariable(CV(storage_)); }

uint32_t CurrentThreadId() { return GetCurrentThreadId(); }
void YieldThread() { Sleep(0); }
void SleepMs(uint32_t milliseconds) { Sleep(milliseconds); }
uint32_t TickCount32() { return GetTickCount(); }
uint64_t TickCount64() { return GetTickCount64(); }

}  // namespace port
