// Kelvo_Timer: the public face of the timer service. A timer inherited
// across fork() is inert in the child: its state lives in the parent's
// service, which the child never touches.
#include "ForkGeneration.h"
#include "KelvoBase.h"
#include "TimerService.h"

Kelvo_Timer::Kelvo_Timer() : m_state(new Kelvo_TimerState(this, kelvo::ForkGeneration()))
{}

Kelvo_Timer::~Kelvo_Timer()
{
    if (kelvo::Inherited(m_state->generation))
        kelvo::LeakOnPurpose(m_state);
    else
        kelvo::TimerService::Get().Release(m_state);
    m_state = nullptr;
}

void Kelvo_Timer::OnTimer(unsigned int, int, int)
{}

unsigned int Kelvo_Timer::SetTimer(unsigned int ms, int user, int, int, const char*)
{
    if (kelvo::Inherited(m_state->generation))
        return 0;
    return kelvo::TimerService::Get().Set(*m_state, ms, user);
}

void Kelvo_Timer::ClearTimer(unsigned int id)
{
    if (id != 0 && !kelvo::Inherited(m_state->generation))
        kelvo::TimerService::Get().Clear(*m_state, id);
}
