// Kelvo_Timer: the public face of the timer service.
#include "KelvoBase.h"
#include "TimerService.h"

Kelvo_Timer::Kelvo_Timer() : m_state(new Kelvo_TimerState(this))
{
}

Kelvo_Timer::~Kelvo_Timer()
{
    kelvo::TimerService::Get().Release(m_state);
    m_state = nullptr;
}

void Kelvo_Timer::OnTimer(unsigned int, int, int)
{
}

unsigned int Kelvo_Timer::SetTimer(unsigned int ms, int user, int, int, const char*)
{
    return kelvo::TimerService::Get().Set(*m_state, ms, user);
}

void Kelvo_Timer::ClearTimer(unsigned int id)
{
    if (id != 0)
        kelvo::TimerService::Get().Clear(*m_state, id);
}
