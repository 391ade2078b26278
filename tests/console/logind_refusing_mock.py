'''python3-dbusmock template, added over the logind template on its running
mock: Inhibit refuses, as polkit does, every lock whose "what" contains the
parameter RefuseWhat (the handle-* locks on a remote session, say), and
grants any other as the logind template does. Added again with an empty
RefuseWhat, it refuses nothing.'''

import dbus

from dbusmock.templates import logind

BUS_NAME = logind.BUS_NAME
MAIN_OBJ = logind.MAIN_OBJ
MAIN_IFACE = logind.MAIN_IFACE
SYSTEM_BUS = True


def load(mock, parameters):
    mock.refused_what = str(parameters.get('RefuseWhat', ''))


@dbus.service.method(MAIN_IFACE, in_signature='ssss', out_signature='h')
def Inhibit(self, what, who, why, mode):
    if self.refused_what and self.refused_what in what:
        raise dbus.exceptions.DBusException(
            'Access denied', name='org.freedesktop.DBus.Error.AccessDenied')
    return logind.Inhibit(self, what, who, why, mode)
