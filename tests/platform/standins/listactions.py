"""The CLI subcommands that act on a list argument (`<range|id_list>`) and
change who owns an object, its rights or its lock: chown, chgrp, chmod, lock,
unlock. Every piece of the list is read as the CLI reads it (model.listed_ids)."""
import cli
import model
from cli import Fail

LOCK_LEVELS = {"manage": 2, "admin": 3, "all": 4}
OPTIONS = {"--use": ("use", False), "--manage": ("manage", False), "--admin": ("admin", False),
           "--all": ("all", False)}


def lock_level(options):
    return max([level for key, level in LOCK_LEVELS.items() if options.get(key)] or [1])


def handlers(kind, word):
    """Handlers of chown, chgrp, chmod, lock and unlock for objects of `kind`;
    `word` is the CLI's name of the ID argument ("template", "image", "vm")."""
    usage = "## USAGE\n%%s <range|%sid_list> %%s" % word

    def chown(platform, positional, options, answer):
        cli.need_params("chown", positional, 2, usage % ("chown", "<userid> [<groupid>]"))

        def act(record):
            record["uname"], record["uid"] = positional[1], platform.uid(positional[1])
        return model.each_listed(platform, kind, positional[:1], answer, "chown", act)

    def chgrp(platform, positional, options, answer):
        cli.need_params("chgrp", positional, 2, usage % ("chgrp", "<groupid>"))
        return model.each_listed(platform, kind, positional[:1], answer, "chown",
                                 lambda record: record.__setitem__("gname", positional[1]))

    def chmod(platform, positional, options, answer):
        cli.need_params("chmod", positional, 2, usage % ("chmod", "<octet>"))
        octet = positional[1]
        if len(octet) != 3 or any(c not in "01234567" for c in octet):
            raise Fail("Permissions must be an octet, like 640")
        return model.each_listed(platform, kind, positional[:1], answer, "chmod",
                                 lambda record: record.__setitem__("perms", octet))

    def lock(platform, positional, options, answer):
        cli.need_params("lock", positional, 1, usage % ("lock", ""))
        level = lock_level(options)
        return model.each_listed(platform, kind, positional, answer, "lock",
                                 lambda record: record.__setitem__("lock", level))

    def unlock(platform, positional, options, answer):
        cli.need_params("unlock", positional, 1, usage % ("unlock", ""))
        return model.each_listed(platform, kind, positional, answer, "unlock", lambda record: record.pop("lock", None))

    return {"chown": chown, "chgrp": chgrp, "chmod": chmod, "lock": lock, "unlock": unlock}
