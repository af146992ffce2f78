"""The end-to-end scenario table (tests/e2e/scenarios.txt), read the same way by
both runners: each scenario's name, language, unit options and steps."""

LANGUAGES = ("en", "de")


def parse_scenarios(path):
    """Every scenario in table order, as {"name", "lang", "unit", "steps"}; a step
    is (where, words). "unit ready" is the unit with no options."""
    scenarios, current = [], None
    with open(path, encoding="utf-8") as table:
        for number, raw in enumerate(table, 1):
            line = raw.strip()
            if not line or line.startswith("#"):
                continue
            words = line.split()
            where = f"{path}:{number}"
            if words[0] == "scenario":
                if current is not None or len(words) != 3 or words[2] not in LANGUAGES:
                    raise SystemExit(f"{where}: bad scenario line")
                current = {"name": words[1], "lang": words[2], "unit": [], "steps": []}
            elif current is None:
                raise SystemExit(f"{where}: outside a scenario")
            elif words[0] == "unit":
                current["unit"] = [w for w in words[1:] if w != "ready"]
            elif words[0] == "end":
                scenarios.append(current)
                current = None
            else:
                current["steps"].append((where, words))
    if current is not None:
        raise SystemExit(f"{path}: scenario {current['name']} has no end")
    return scenarios
