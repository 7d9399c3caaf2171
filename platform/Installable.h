#pragma once

// A component the program installs at start (the windows' message box, the sound
// player) and tests replace; until one is installed, the fallback serves.
template <typename Component, typename Fallback>
class Installable
{
public:
    Component &get() { return m_installed ? *m_installed : m_fallback; }
    void install(Component *component) { m_installed = component; }

private:
    Component *m_installed = nullptr;
    Fallback m_fallback;
};
