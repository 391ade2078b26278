// A DLL of the maker's DLL's own, as a site puts it beside that DLL in
// site\: it names the simulated device the stand-in (makerdll.cpp) hands its
// calls to. Built with QD740N_DECOY, it is a DLL of the same name elsewhere
// that names none, so a stand-in that loaded it finds no device.
extern "C" __declspec(dllexport) const wchar_t *qd740nSimulatorName()
{
#ifdef QD740N_DECOY
    return L"no_simulator_here.dll";
#else
    return L"qd_api_simulator.dll";
#endif
}
