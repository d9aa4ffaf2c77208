"""The exceptions of the package and the reading of the library's error record."""

import collections


class DriverError(Exception):
    """The driver library failed, refused or did not finish something.

    ``code`` is the library's code for it (an error record's code, a refusal or download status)
    or None when the package itself found the problem; ``text`` is the library's own text (the
    error record as ``fmDLLGetError`` copies it) or None.
    """

    def __init__(self, message, code=None, text=None):
        super().__init__(message)
        self.code = code
        self.text = text


class DriverInUseError(DriverError):
    """Another ``torva.Driver`` is open in this process (the library has one state)."""


ErrorRecord = collections.namedtuple("ErrorRecord", "serial code message text")
ErrorRecord.__doc__ = """The library's error record.

``serial`` is the amplifier serial it names ("" when it names none), ``code`` its error code as
an int (None when it is not a number), ``message`` the message and ``text`` the whole record.
"""

_SERIAL = "SerialNumber: "
_CODE = " ErrorCode: "
_MESSAGE = " ErrorMessage: "


def parse_error_record(text):
    """Reads "[SerialNumber: <serial>] ErrorCode: <code> ErrorMessage: <message>".

    Returns an ErrorRecord, or None for "" or a text not of that form.
    """
    code_at = text.find(_CODE)
    message_at = text.find(_MESSAGE, code_at) if code_at >= 0 else -1
    if message_at < 0:
        return None
    serial = ""
    if code_at > 0:
        if not text.startswith(_SERIAL):
            return None
        serial = text[len(_SERIAL):code_at]
    code_text = text[code_at + len(_CODE):message_at]
    try:
        code = int(code_text)
    except ValueError:
        code = None
    return ErrorRecord(serial, code, text[message_at + len(_MESSAGE):], text)
