import flash.Lib;
import flash.display.Bitmap;
import flash.display.BitmapData;
import flash.display.GradientType;
import flash.display.Shape;
import flash.display.Sprite;
import flash.events.Event;
import flash.external.ExternalInterface;
import flash.geom.Matrix;
import flash.text.TextField;
import flash.text.TextFormat;

/**
 * Playback movie: keeps the player busy the way a game does at 800x600 and 30 frames per
 * second, and counts its own frames.
 *
 * It asks for the configuration text with "ReadConfigData"; the answer is
 * "playback MODE SETTLE MEASURE [SHAPES]": MODE "play" (everything moves: a few hundred
 * rotating vector shapes with gradients and alpha, text that changes every frame, a
 * scrolling bitmap) or "pause" (the same scene drawn once, then nothing changes: a game
 * sitting in a menu); SETTLE and MEASURE in seconds (defaults 3 and 20); SHAPES (default 300).
 *
 * After SETTLE seconds it sends fscommand("bench_mark", "start") and takes the time of
 * every ENTER_FRAME for MEASURE seconds; then it sends fscommand("bench_result", TEXT) and
 * hands the same text to "WriteConfigData", and goes on playing. TEXT is
 * "mode=M;frames=N;seconds=S;fps=F;p50=MS;p95=MS;max=MS", intervals from getTimer().
 */
class Playback extends Sprite {
	static inline var W = 800;
	static inline var H = 600;

	var mode = "play";
	var settleMs = 3000;
	var measureMs = 20000;
	var count = 300;

	var shapes:Array<Shape> = [];
	var dx:Array<Float> = [];
	var dy:Array<Float> = [];
	var spin:Array<Float> = [];
	var label:TextField;
	var strip:Sprite;
	var stripWidth = 0;

	var started = -1;
	var measuring = false;
	var done = false;
	var times:Array<Int> = [];
	var frame = 0;

	static function main() {
		Lib.current.addChild(new Playback());
	}

	function new() {
		super();
		graphics.beginFill(0x081018);
		graphics.drawRect(0, 0, W, H);
		graphics.endFill();
		if (!ExternalInterface.available) {
			Lib.fscommand("bench_error", "ExternalInterface is not available");
			return;
		}
		ExternalInterface.addCallback("ConfigDataReadComplete", onConfig);
		// The host calls these at start-up; they change nothing here.
		for (name in ["PlayerLoadComplete", "LevelLoadComplete", "HSReadComplete", "SwitchFullscreenMarker",
			"CloseRequested", "notifyGame"])
			ExternalInterface.addCallback(name, function(_:String):Void {});
		Lib.fscommand("ReadConfigData", "");
	}

	function onConfig(text:String):Void {
		if (started >= 0)
			return;
		var f = text == null ? [] : StringTools.trim(text).split(" ");
		if (f.length >= 2 && f[0] == "playback") {
			mode = f[1];
			if (f.length >= 3)
				settleMs = Std.int(Std.parseFloat(f[2]) * 1000);
			if (f.length >= 4)
				measureMs = Std.int(Std.parseFloat(f[3]) * 1000);
			if (f.length >= 5)
				count = Std.parseInt(f[4]);
		}
		build();
		started = Lib.getTimer();
		addEventListener(Event.ENTER_FRAME, onFrame);
	}

	function build() {
		strip = new Sprite();
		var tile = makeTile();
		stripWidth = tile.width;
		for (i in 0...3) {
			var b = new Bitmap(tile);
			b.x = i * stripWidth;
			strip.addChild(b);
		}
		strip.y = H - tile.height;
		addChild(strip);

		// A fixed seed: every run draws the same scene.
		var seed = 12345;
		function random():Float {
			seed = (seed * 1103515245 + 12345) & 0x7fffffff;
			return seed / 0x7fffffff;
		}
		var palette = [0xff4040, 0x40ff80, 0x4080ff, 0xffd040, 0xd040ff, 0x40e0e0];
		for (i in 0...count) {
			var s = new Shape();
			var r = 10 + random() * 26;
			var m = new Matrix();
			m.createGradientBox(r * 2, r * 2, random() * Math.PI, -r, -r);
			var c1 = palette[i % palette.length];
			var c2 = palette[(i + 2) % palette.length];
			s.graphics.lineStyle(1.5, 0xffffff, 0.5);
			s.graphics.beginGradientFill(i % 2 == 0 ? GradientType.RADIAL : GradientType.LINEAR, [c1, c2, 0x000000],
				[1.0, 0.7, 0.2], [0, 160, 255], m);
			star(s, 3 + (i % 5), r, r * (0.4 + random() * 0.3));
			s.graphics.endFill();
			s.x = random() * W;
			s.y = random() * (H - 140);
			s.rotation = random() * 360;
			s.alpha = 0.5 + random() * 0.5;
			addChild(s);
			shapes.push(s);
			dx.push((random() - 0.5) * 6);
			dy.push((random() - 0.5) * 6);
			spin.push((random() - 0.5) * 12);
		}

		label = new TextField();
		label.defaultTextFormat = new TextFormat("_sans", 18, 0xffffff, true);
		label.width = 520;
		label.height = 80;
		label.x = 12;
		label.y = 10;
		label.background = true;
		label.backgroundColor = 0x000000;
		label.alpha = 0.8;
		addChild(label);
		label.text = "playback: " + mode + ", " + count + " shapes";
	}

	// A 400x128 tile of stripes and discs for the scrolling strip, drawn pixel by pixel
	// (the canvas renderer has no BitmapData.draw).
	function makeTile():BitmapData {
		var data = new BitmapData(400, 128, false, 0x203040);
		for (i in 0...20) {
			data.fillRect(new flash.geom.Rectangle(i * 20, 0, 10, 128), i % 2 == 0 ? 0x305070 : 0x506080);
			var cx = i * 20 + 10;
			var cy = 30 + (i * 37) % 70;
			for (y in -8...9)
				for (x in -8...9)
					if (x * x + y * y <= 64)
						data.setPixel(cx + x, cy + y, 0xf0c060);
		}
		return data;
	}

	static function star(s:Shape, points:Int, outer:Float, inner:Float) {
		var g = s.graphics;
		for (k in 0...points * 2 + 1) {
			var a = Math.PI * k / points;
			var r = k % 2 == 0 ? outer : inner;
			if (k == 0)
				g.moveTo(Math.cos(a) * r, Math.sin(a) * r);
			else
				g.lineTo(Math.cos(a) * r, Math.sin(a) * r);
		}
	}

	function onFrame(_:Event):Void {
		var now = Lib.getTimer();
		frame++;
		if (mode == "play")
			animate(now);
		if (done)
			return;
		if (!measuring && now - started >= settleMs) {
			measuring = true;
			times.push(now);
			Lib.fscommand("bench_mark", "start");
			return;
		}
		if (measuring) {
			times.push(now);
			if (now - times[0] >= measureMs)
				finish();
		}
	}

	function animate(now:Int) {
		for (i in 0...shapes.length) {
			var s = shapes[i];
			s.x += dx[i];
			s.y += dy[i];
			if (s.x < 0 || s.x > W)
				dx[i] = -dx[i];
			if (s.y < 0 || s.y > H - 140)
				dy[i] = -dy[i];
			s.rotation += spin[i];
		}
		strip.x -= 4;
		if (strip.x <= -stripWidth)
			strip.x += stripWidth;
		label.text = "frame " + frame + "\ntime " + now + " ms\nshapes " + shapes.length;
	}

	function finish() {
		done = true;
		var intervals = [for (i in 1...times.length) times[i] - times[i - 1]];
		intervals.sort(function(a, b) return a - b);
		var n = intervals.length;
		var seconds = (times[times.length - 1] - times[0]) / 1000;
		var text = "mode=" + mode + ";frames=" + n + ";seconds=" + seconds + ";fps=" + round(n / seconds)
			+ ";p50=" + intervals[n >> 1] + ";p95=" + intervals[Std.int(Math.min(n - 1, Math.ceil(n * 0.95) - 1))]
			+ ";max=" + intervals[n - 1];
		Lib.fscommand("bench_result", text);
		Lib.fscommand("WriteConfigData", "bench_result " + text);
	}

	static function round(x:Float):Float {
		return Math.round(x * 1000) / 1000;
	}
}
