#include "OtherAccountsShare.h"

OtherAccountsShare::OtherAccountsShare(int maxHandlers, int sharePercent)
    : m_iLimit(maxHandlers > 0 && sharePercent > 0
                   ? static_cast<int>(static_cast<long long>(maxHandlers) * sharePercent / 100)
                   : 0)
{
}

bool OtherAccountsShare::tryEnter()
{
    int held = m_iHeld.load();
    do {
        if (held >= m_iLimit)
            return false;
    } while (!m_iHeld.compare_exchange_weak(held, held + 1));
    return true;
}

void OtherAccountsShare::leave()
{
    m_iHeld.fetch_sub(1);
}
