import flash.Lib;
import flash.display.Sprite;
import flash.external.ExternalInterface;
import flash.text.TextField;
import flash.text.TextFormat;

/**
 * Soak movie: saves a level and loads it back, over and over, as a game does between
 * levels. Each step sends "SaveLevelData soak|DATA" and "LoadLevelData soak", checks that
 * LevelLoadComplete brings DATA back (with the CR LF the host writes after it), and takes
 * the next step DELAY ms after that answer. DATA is SIZE characters and differs from step
 * to step.
 *
 * The configuration text (the answer to the first ReadConfigData) may set them:
 * "soak SIZE DELAY" (defaults 10240 and 20).
 *
 * Every second it hands its counts to "WriteConfigData", so a harness reads them from
 * config.dat without the protocol trace: "soak_status rounds=N;wrong=N;lost=N;max=MS;
 * slow=N;last=MS" (slow: round trips of 1 s or more; lost: no answer within 60 s, after
 * which it goes on with the next step).
 */
class Soak extends Sprite {
	static inline var LOST_MS = 60000;

	var size = 10240;
	var delay = 20;
	var configured = false;
	var step = 0;
	var sentAt = 0;
	var expected:String = null;
	var rounds = 0;
	var wrong = 0;
	var lost = 0;
	var slow = 0;
	var max = 0;
	var last = 0;
	var reportedAt = 0;
	var status:TextField;

	static function main() {
		Lib.current.addChild(new Soak());
	}

	function new() {
		super();
		graphics.beginFill(0x102030);
		graphics.drawRect(0, 0, 800, 600);
		graphics.endFill();
		status = new TextField();
		status.defaultTextFormat = new TextFormat("_sans", 16, 0xFFFFFF);
		status.width = 780;
		status.x = 10;
		status.y = 10;
		addChild(status);
		ExternalInterface.addCallback("ConfigDataReadComplete", onConfig);
		ExternalInterface.addCallback("LevelLoadComplete", onLevel);
		for (name in ["PlayerLoadComplete", "HSReadComplete", "SwitchFullscreenMarker", "CloseRequested", "notifyGame"])
			ExternalInterface.addCallback(name, function(_:String):Void {});
		Lib.fscommand("ReadConfigData", "");
		// A step whose answer never comes counts as lost; the soak goes on.
		var watch = new haxe.Timer(1000);
		watch.run = function() {
			if (expected != null && Lib.getTimer() - sentAt >= LOST_MS) {
				lost++;
				expected = null;
				next();
			}
		};
	}

	function onConfig(text:String):Void {
		if (configured)
			return;
		configured = true;
		var f = text == null ? [] : StringTools.trim(text).split(" ");
		if (f.length >= 3 && f[0] == "soak") {
			var s = Std.parseInt(f[1]);
			var d = Std.parseInt(f[2]);
			if (s != null && s > 0)
				size = s;
			if (d != null && d >= 0)
				delay = d;
		}
		reportedAt = Lib.getTimer();
		next();
	}

	function next() {
		step++;
		var data = level(step);
		expected = data + "\r\n";
		sentAt = Lib.getTimer();
		Lib.fscommand("SaveLevelData", "soak|" + data);
		Lib.fscommand("LoadLevelData", "soak");
	}

	function onLevel(text:String):Void {
		if (expected == null)
			return; // the answer of a step already counted as lost
		var took = Lib.getTimer() - sentAt;
		rounds++;
		last = took;
		if (took > max)
			max = took;
		if (took >= 1000)
			slow++;
		if (text != expected)
			wrong++;
		expected = null;
		var now = Lib.getTimer();
		if (now - reportedAt >= 1000) {
			reportedAt = now;
			var counts = "rounds=" + rounds + ";wrong=" + wrong + ";lost=" + lost + ";max=" + max + ";slow=" + slow + ";last=" + last;
			status.text = counts;
			Lib.fscommand("WriteConfigData", "soak_status " + counts);
		}
		haxe.Timer.delay(next, delay);
	}

	/** SIZE characters of level markup, different for every step, without "|". */
	function level(n:Int):String {
		var head = "<level step=\"" + n + "\">";
		var tail = "</level>";
		var body = new StringBuf();
		var fill = size - head.length - tail.length;
		var i = 0;
		while (i < fill) {
			body.addChar(97 + (n + i * 7) % 26);
			i++;
		}
		return head + body.toString() + tail;
	}
}
