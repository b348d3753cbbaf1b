import flash.Lib;
import flash.display.Sprite;
import flash.external.ExternalInterface;
import flash.text.TextField;
import flash.text.TextFormat;

/**
 * Round-trip timing movie. It sends "ReadConfigData" and, each time the host answers
 * with ConfigDataReadComplete, takes the time and sends the next one. The first answer
 * carries the configuration text, "bench ROUNDS WARMUP" (defaults 1000 and 20); the
 * first WARMUP round trips are not counted.
 *
 * At the end it sends fscommand("bench_result", TEXT) and also hands the same text to
 * "WriteConfigData", so that a harness can read it from the save folder without the
 * protocol trace. TEXT is "median=MS;min=MS;max=MS;clock=MS;times=MS,MS,...".
 *
 * Times come from the page's clock (performance.now), read through ExternalInterface;
 * "clock" is what one such reading costs, measured here.
 */
class Bench extends Sprite {
	var rounds = 1000;
	var warmup = 20;
	var done = 0;
	var last = -1.0;
	var times:Array<Float> = [];
	var configured = false;
	var status:TextField;

	static function main() {
		Lib.current.addChild(new Bench());
	}

	function new() {
		super();
		status = new TextField();
		status.defaultTextFormat = new TextFormat("_sans", 16, 0xFFFFFF);
		status.width = 780;
		status.x = 10;
		status.y = 10;
		addChild(status);
		graphics.beginFill(0x102030);
		graphics.drawRect(0, 0, 800, 600);
		graphics.endFill();
		if (!ExternalInterface.available) {
			show("ExternalInterface is not available");
			Lib.fscommand("bench_error", "ExternalInterface is not available");
			return;
		}
		ExternalInterface.addCallback("ConfigDataReadComplete", onAnswer);
		// The host may call these too (the full-screen marker at start-up); they do nothing.
		for (name in ["PlayerLoadComplete", "LevelLoadComplete", "HSReadComplete", "SwitchFullscreenMarker",
			"CloseRequested", "notifyGame"])
			ExternalInterface.addCallback(name, function(_:String):Void {});
		show("waiting for the host");
		Lib.fscommand("ReadConfigData", "");
	}

	static inline function now():Float {
		return ExternalInterface.call("function(){return performance.now();}");
	}

	function show(text:String) {
		status.text = text;
	}

	function onAnswer(text:String):Void {
		var t = now();
		if (!configured) {
			configured = true;
			var f = text == null ? [] : StringTools.trim(text).split(" ");
			if (f.length >= 3 && f[0] == "bench") {
				var r = Std.parseInt(f[1]);
				var w = Std.parseInt(f[2]);
				if (r != null && r > 0)
					rounds = r;
				if (w != null && w >= 0)
					warmup = w;
			}
		}
		if (last >= 0) {
			done++;
			if (done > warmup)
				times.push(t - last);
		}
		if (times.length >= rounds) {
			finish();
			return;
		}
		if (done % 100 == 0)
			show("round trip " + done + " of " + (rounds + warmup));
		last = now();
		Lib.fscommand("ReadConfigData", "");
	}

	function finish() {
		// What one clock reading costs (it is inside every timed round trip once).
		var c0 = now();
		for (i in 0...200)
			now();
		var clock = (now() - c0) / 201;

		var sorted = times.copy();
		sorted.sort(function(a, b) return a < b ? -1 : a > b ? 1 : 0);
		var n = sorted.length;
		var median = n % 2 == 1 ? sorted[n >> 1] : (sorted[(n >> 1) - 1] + sorted[n >> 1]) / 2;
		var parts = [for (t in times) fmt(t)];
		var text = "median=" + fmt(median) + ";min=" + fmt(sorted[0]) + ";max=" + fmt(sorted[n - 1])
			+ ";clock=" + fmt(clock) + ";times=" + parts.join(",");
		show("done: median " + fmt(median) + " ms over " + n + " round trips");
		Lib.fscommand("bench_result", text);
		Lib.fscommand("WriteConfigData", "bench_result " + text);
	}

	static function fmt(ms:Float):String {
		return Std.string(Math.round(ms * 1000) / 1000);
	}
}
