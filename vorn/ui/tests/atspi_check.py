# Finds the example application on the accessibility bus, checks its element
# names and roles, types a name and presses the button through AT-SPI, and
# sees the greeting appear. Every wait is bounded.
import sys
import time

import pyatspi


def wait(what, find, seconds=10):
    end = time.time() + seconds
    while time.time() < end:
        found = find()
        if found is not None:
            return found
        time.sleep(0.1)
    seen = [(n.name, n.getRoleName()) for n in walk(application())] if application() else []
    sys.exit(f"not found over AT-SPI: {what}; the tree has {seen}")


def walk(node, depth=0):
    if node is None or depth > 20:
        return
    yield node
    for i in range(node.childCount):
        yield from walk(node.getChildAtIndex(i), depth + 1)


def application():
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.name in ("Example", "vorn_ui_example"):
            return app
    return None


def named(app, name, *roles):
    def find():
        for node in walk(app):
            if node.name == name and node.getRole() in roles:
                return node
        return None
    return find


app = wait("the application", application)
button = wait("the Greet button", named(app, "Greet", pyatspi.ROLE_PUSH_BUTTON))
entry = wait("the Name entry", named(app, "Name", pyatspi.ROLE_ENTRY, pyatspi.ROLE_TEXT))
wait("the heading", named(app, "Vorn UI example", pyatspi.ROLE_HEADING))

entry.queryEditableText().setTextContents("Zoë")
action = button.queryAction()
names = [action.getName(i) for i in range(action.nActions)]
if "Press" not in names and "press" not in names:
    sys.exit(f"the button offers {names}, not Press")
action.doAction(0)
wait("the greeting", named(app, "Hello, Zoë!", pyatspi.ROLE_STATIC, pyatspi.ROLE_LABEL))
print("AT-SPI: tree read, text set and button pressed")
