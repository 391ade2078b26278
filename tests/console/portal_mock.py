'''python3-dbusmock template: the desktop portal's Inhibit interface, as the
updater's tests need it. Each inhibition is a request object until it is
closed; ListInhibitions on the mock interface lists the open ones as
"flags|reason", ListParents the parent window of every request made.'''

import dbus

from dbusmock import MOCK_IFACE, mockobject

BUS_NAME = 'org.freedesktop.portal.Desktop'
MAIN_OBJ = '/org/freedesktop/portal/desktop'
MAIN_IFACE = 'org.freedesktop.portal.Inhibit'
SYSTEM_BUS = False
REQUEST_IFACE = 'org.freedesktop.portal.Request'


def load(mock, parameters):  # pylint: disable=unused-argument
    mock.requests = 0
    mock.parents = []


@dbus.service.method(MAIN_IFACE, in_signature='sua{sv}', out_signature='o')
def Inhibit(self, window, flags, options):  # pylint: disable=unused-argument
    self.requests += 1
    self.parents.append(str(window))
    path = f'{MAIN_OBJ}/request/test/r{self.requests}'
    inhibition = f'{flags}|{options.get("reason", "")}'
    self.AddObject(path, REQUEST_IFACE, {'Inhibition': inhibition},
                   [('Close', '', '', f'objects["{MAIN_OBJ}"].RemoveObject("{path}")')])
    return dbus.ObjectPath(path)


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='as')
def ListParents(self):
    return self.parents


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='as')
def ListInhibitions(_):
    return [obj.Get(REQUEST_IFACE, 'Inhibition')
            for path, obj in mockobject.objects.items() if '/request/' in path]
